// Discovery over a fake installed-modem list and fake ports COM1 to COM4, and
// the quick scan over pseudo-terminals (no real serial device is ever opened
// here).
#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "serial/comm_port.h"
#include "serial/discovery.h"
#include "serial/modem_list.h"
#include "tests/support/diag_recorder.h"
#include "tests/serial/pty.h"
#include "tests/support/fake_serial.h"

namespace mfu {
namespace {

struct Entry {
  std::string name;
  std::map<std::string, std::string> values;
  bool opens = true;
  bool without_nul = false;  // values stored without their NUL
  bool scribbles = false;    // a value that does not fit leaves its first bytes behind
};

class FakeModemList final : public InstalledModemList {
 public:
  bool list_opens = true;
  std::vector<Entry> entries;
  std::vector<std::string> queried;  // "subkey/value"
  std::set<KeyHandle> open_keys;

  bool OpenList(KeyHandle& list) override {
    if (!list_opens) return false;
    list = 1000;
    open_keys.insert(list);
    return true;
  }
  bool EnumSubkey(KeyHandle list, std::uint32_t index, char* name, std::uint32_t& name_size) override {
    EXPECT_EQ(list, 1000u);
    EXPECT_EQ(name_size, 128u);
    if (index >= entries.size()) return false;
    const std::string& n = entries[index].name;
    if (n.size() + 1 > name_size) return false;
    std::memcpy(name, n.c_str(), n.size() + 1);
    name_size = static_cast<std::uint32_t>(n.size());
    return true;
  }
  bool OpenSubkey(KeyHandle, const char* name, KeyHandle& subkey) override {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].name == name) {
        if (!entries[i].opens) return false;
        subkey = i + 1;
        open_keys.insert(subkey);
        return true;
      }
    }
    return false;
  }
  bool QueryValue(KeyHandle key, const char* value_name, char* buffer, std::uint32_t& size) override {
    EXPECT_EQ(open_keys.count(key), 1u);
    const Entry& entry = entries.at(key - 1);
    queried.push_back(entry.name + "/" + value_name);
    auto it = entry.values.find(value_name);
    if (it == entry.values.end()) return false;
    const std::uint32_t needed = static_cast<std::uint32_t>(it->second.size() + (entry.without_nul ? 0 : 1));
    if (needed > size) {
      if (entry.scribbles) std::memcpy(buffer, it->second.data(), size);
      size = needed;
      return false;
    }
    std::memcpy(buffer, it->second.data(), needed);
    size = needed;
    return true;
  }
  void CloseKey(KeyHandle key) override { EXPECT_EQ(open_keys.erase(key), 1u) << "key closed twice: " << key; }
};

// The fake ports, checking that the probe holds one port at a time and that
// the events exist whenever a port is open.
class OneAtATimeBackend final : public SerialBackend {
 public:
  std::shared_ptr<test::FakeSerialDevice> Add(const std::string& name) { return inner.Add(name); }
  SerialHandle Open(const char* port_name) override {
    for (const auto& held : opened_) EXPECT_TRUE(held->Closed()) << "a port still open when " << port_name << " opens";
    EXPECT_TRUE(port->ReadCompleteEvent) << port_name;
    EXPECT_TRUE(port->WriteCompleteEvent) << port_name;
    SerialHandle opened = inner.Open(port_name);
    if (opened) opened_.push_back(std::static_pointer_cast<test::FakeSerialDevice>(opened));
    return opened;
  }
  std::vector<std::string> Opened() const { return inner.Opened(); }

  test::FakeSerialBackend inner;
  const CommPort* port = nullptr;  // the probe's

 private:
  std::vector<std::shared_ptr<test::FakeSerialDevice>> opened_;
};

class DiscoveryTest : public ::testing::Test {
 protected:
  CommPort comm_;
  void SetUp() override {
    SetSerialBackend(&backend_);
    SetModemList(&list_);
    SetTimeDivisor(1000);  // 50000 ms of silence last 50 ms
    std::memset(port_, 'X', sizeof port_);
    backend_.port = &comm_;
  }
  void TearDown() override {
    EXPECT_FALSE(comm_.PortHandle());
    EXPECT_FALSE(comm_.ReadCompleteEvent);
    EXPECT_FALSE(comm_.WriteCompleteEvent);
    EXPECT_TRUE(list_.open_keys.empty()) << "keys left open";
    SetSerialBackend(nullptr);
    SetModemList(nullptr);
    SetTimeDivisor(1);
  }
  // A modem on `name` that answers the probe with `answer`.
  std::shared_ptr<test::FakeSerialDevice> Modem(const std::string& name, const std::string& answer) {
    auto device = backend_.Add(name);
    std::weak_ptr<test::FakeSerialDevice> weak = device;
    device->SetResponder([weak, answer](const test::FakeSerialDevice::Bytes& written) {
      if (std::string(written.begin(), written.end()) != "ati4\r\n") return;
      if (auto d = weak.lock()) d->QueueAnswer(answer);
    });
    return device;
  }
  void AddEntry(const std::string& name, const std::string& model, const std::string& port) {
    Entry entry;
    entry.name = name;
    entry.values["Model"] = model;
    if (!port.empty()) entry.values["AttachedTo"] = port;
    list_.entries.push_back(entry);
  }
  std::string Port() const { return port_; }

  OneAtATimeBackend backend_;
  FakeModemList list_;
  char port_[kPortNameSize];
  test::DiagRecorder diags_;
};

TEST_F(DiscoveryTest, ModelNamesMatchAsCaseSensitiveSubstrings) {
  AddEntry("0000", "orbalis 56k", "COM1");         // other case
  AddEntry("0001", "Standard KELVORA 56000", "COM2");
  AddEntry("0002", "Orbalis 56K Voice", "COM3");
  FindModemInRegistry(port_);
  EXPECT_EQ(Port(), "COM3");

  list_.entries.clear();
  AddEntry("0000", "Generic Kelvora 56000 Modem", "COM4");
  FindModemInRegistry(port_);
  EXPECT_EQ(Port(), "COM4");
}

TEST_F(DiscoveryTest, FirstMatchWins) {
  AddEntry("0000", "Orbalis 56", "COM2");
  AddEntry("0001", "Kelvora 56000", "COM3");
  FindModemInRegistry(port_);
  EXPECT_EQ(Port(), "COM2");
  EXPECT_EQ(list_.queried, (std::vector<std::string>{"0000/Model", "0000/AttachedTo"}));
}

TEST_F(DiscoveryTest, AMatchWithoutAttachedToEndsTheSearch) {
  AddEntry("0000", "Orbalis 56", "");
  AddEntry("0001", "Kelvora 56000", "COM3");
  FindModemInRegistry(port_);
  EXPECT_EQ(Port(), "");
  EXPECT_EQ(list_.queried, (std::vector<std::string>{"0000/Model", "0000/AttachedTo"}));
}

TEST_F(DiscoveryTest, ASubkeyThatCannotBeOpenedIsPassedOver) {
  AddEntry("0000", "Orbalis 56", "COM1");
  list_.entries[0].opens = false;
  AddEntry("0001", "Kelvora 56000", "COM3");
  FindModemInRegistry(port_);
  EXPECT_EQ(Port(), "COM3");
}

TEST_F(DiscoveryTest, ModelsThatDoNotFitOrAreMissingMatchNothing) {
  AddEntry("0000", "A very long model name with Orbalis 56 in it", "COM1");  // 32+ bytes
  Entry no_model;
  no_model.name = "0001";
  no_model.values["AttachedTo"] = "COM2";
  list_.entries.push_back(no_model);
  FindModemInRegistry(port_);
  EXPECT_EQ(Port(), "");
}

TEST_F(DiscoveryTest, AttachedToOfThirtyTwoCharactersIsNotFoundAndTheProbeRuns) {
  AddEntry("0000", "Kelvora 56000", "/dev/serial/by-id/usb-modem-port0");  // 33 characters
  auto modem = Modem("COM2", "ati4\r\nQVRLMAZZ\r\nOK\r\n");
  EXPECT_TRUE(FindModemPort(comm_, nullptr, port_));
  EXPECT_EQ(Port(), "COM2");
}

TEST_F(DiscoveryTest, AValueStoredWithoutItsNulIsTakenWhenItFits) {
  AddEntry("0000", "Kelvora 56000", "COM1");
  list_.entries[0].without_nul = true;
  FindModemInRegistry(port_);
  EXPECT_EQ(Port(), "COM1");

  // Filling the whole value buffer without a NUL: it does not fit.
  list_.entries[0].values["AttachedTo"] = std::string(32, 'P');
  std::memset(port_, 'X', sizeof port_);
  FindModemInRegistry(port_);
  EXPECT_EQ(Port(), "");
}

TEST_F(DiscoveryTest, ARegistryHitIsTakenWithoutAProbe) {
  AddEntry("0000", "Kelvora 56000", "COM3");
  EXPECT_TRUE(FindModemPort(comm_, nullptr, port_));
  EXPECT_EQ(Port(), "COM3");
  EXPECT_TRUE(backend_.Opened().empty());
}

TEST_F(DiscoveryTest, NoListMeansTheProbeRuns) {
  list_.list_opens = false;
  auto modem = Modem("COM1", "QVRLMAZZ");
  EXPECT_TRUE(FindModemPort(comm_, nullptr, port_));
  EXPECT_EQ(Port(), "COM1");
}

TEST_F(DiscoveryTest, ProbeSkipsMissingAndStatuslessPortsAndStopsAtTheFirstHit) {
  auto statusless = Modem("COM2", "QVRLMAZZ");
  statusless->SetModemStatus(0, true);
  auto silent = backend_.Add("COM3");
  auto wrong = Modem("COM1", "ati4\r\nOK\r\n");
  auto hit = Modem("COM4", "ati4\r\n56000 QVRLMAZZ\r\n");
  EXPECT_TRUE(ProbeCommPorts(comm_, port_));
  EXPECT_EQ(Port(), "COM4");
  EXPECT_EQ(backend_.Opened(), (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}));
  EXPECT_TRUE(statusless->Written().empty());  // nothing sent where the status fails
  const std::string probe = "ati4\r\n";
  EXPECT_EQ(wrong->Written(), test::FakeSerialDevice::Bytes(probe.begin(), probe.end()));
  EXPECT_EQ(silent->Written(), test::FakeSerialDevice::Bytes(probe.begin(), probe.end()));
  for (const auto& device : {wrong, statusless, silent, hit}) EXPECT_TRUE(device->Closed());
  EXPECT_EQ(diags_.Count("READ TIMEOUT\n"), 1);  // only the silent port
}

TEST_F(DiscoveryTest, ProbeNeverOpensAPortPastTheFirstHit) {
  auto first = Modem("COM2", "QVRLMAZZ");
  auto later = Modem("COM3", "QVRLMAZZ");
  EXPECT_TRUE(ProbeCommPorts(comm_, port_));
  EXPECT_EQ(Port(), "COM2");
  EXPECT_EQ(backend_.Opened(), (std::vector<std::string>{"COM1", "COM2"}));
  EXPECT_TRUE(later->Written().empty());
}

TEST_F(DiscoveryTest, IdentifierAfterAPauseIsNotRecognised) {
  auto device = backend_.Add("COM1");
  std::weak_ptr<test::FakeSerialDevice> weak = device;
  device->SetResponder([weak](const test::FakeSerialDevice::Bytes&) {
    if (auto d = weak.lock()) {
      d->QueueAnswer("ati4\r\n");  // one burst, then a pause
      d->QueueAnswer("QVRLMAZZ");  // the next burst
    }
  });
  EXPECT_FALSE(ProbeCommPorts(comm_, port_));
  EXPECT_EQ(Port(), "");
}

TEST_F(DiscoveryTest, IdentifierOnlyCountsWithinTheBytesOfThisRead) {
  // An earlier answer left the identifier in the buffer behind a short one.
  std::memcpy(ModemResponseBuffer, "xxxxQVRLMAZZ", 12);
  auto modem = Modem("COM1", "xxxx");
  EXPECT_FALSE(ProbeCommPorts(comm_, port_));
  // And an identifier split by the end of the read is not one either.
  auto cut = Modem("COM1", "QVRLMAZ");
  ModemResponseBuffer[7] = 'Z';
  EXPECT_FALSE(ProbeCommPorts(comm_, port_));
}

TEST_F(DiscoveryTest, ARegistryHitTouchesNoPortAndCreatesNoEvents) {
  AddEntry("0000", "Kelvora 56000", "COM1");
  auto modem = Modem("COM1", "QVRLMAZZ");  // would answer, but is not asked
  EXPECT_TRUE(FindModemPort(comm_, nullptr, port_));
  EXPECT_EQ(Port(), "COM1");
  EXPECT_TRUE(backend_.Opened().empty());
  EXPECT_TRUE(modem->Written().empty());
  EXPECT_TRUE(diags_.Lines().empty());
}

TEST_F(DiscoveryTest, AnAttachedToThatDoesNotFitLeavesNoPartOfItBehind) {
  // The value buffer is shared by "Model" and "AttachedTo": a refused
  // "AttachedTo" must give no name, neither its own first bytes nor the model.
  AddEntry("0000", "Kelvora 56000", "COM1-but-far-too-long-for-the-buffer");
  list_.entries[0].scribbles = true;
  AddEntry("0001", "Kelvora 56000", "COM2");
  FindModemInRegistry(port_);
  EXPECT_EQ(Port(), "");
  // The first match decided: the second entry was never opened or read.
  EXPECT_EQ(list_.queried, (std::vector<std::string>{"0000/Model", "0000/AttachedTo"}));
}

TEST_F(DiscoveryTest, AMatchWithoutAttachedToLetsTheProbeRun) {
  AddEntry("0000", "Orbalis 56", "");
  AddEntry("0001", "Kelvora 56000", "COM3");
  auto modem = Modem("COM4", "QVRLMAZZ");
  EXPECT_TRUE(FindModemPort(comm_, nullptr, port_));
  EXPECT_EQ(Port(), "COM4");
  EXPECT_EQ(backend_.Opened(), (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}));
}

TEST_F(DiscoveryTest, ProbeWritesOnlyTheCommandAndNoDiagnosticOfItsOwn) {
  auto silent = backend_.Add("COM1");
  auto hit = Modem("COM2", "QVRLMAZZ");
  EXPECT_TRUE(ProbeCommPorts(comm_, port_));
  EXPECT_EQ(Port(), "COM2");
  const test::FakeSerialDevice::Bytes probe{'a', 't', 'i', '4', '\r', '\n'};
  EXPECT_EQ(silent->Writes(), std::vector<test::FakeSerialDevice::Bytes>{probe});
  EXPECT_EQ(hit->Writes(), std::vector<test::FakeSerialDevice::Bytes>{probe});
  // The silent port's read leaves its timeout; discovery adds nothing.
  EXPECT_EQ(diags_.Lines(), (std::vector<std::string>{"READ TIMEOUT\n"}));
  // Each port got its settings back when it was closed.
  EXPECT_EQ(silent->State(), "original");
  EXPECT_EQ(hit->State(), "original");
}

TEST_F(DiscoveryTest, ProbeWithNoPortsAtAllTriesAllFourAndFindsNothing) {
  EXPECT_FALSE(ProbeCommPorts(comm_, port_));
  EXPECT_EQ(Port(), "");
  EXPECT_EQ(backend_.Opened(), (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}));
}

TEST_F(DiscoveryTest, NothingFoundLeavesAnEmptyNameNoPortAndNoEvents) {
  auto silent = backend_.Add("COM2");
  EXPECT_FALSE(FindModemPort(comm_, nullptr, port_));
  EXPECT_EQ(Port(), "");
  EXPECT_TRUE(silent->Closed());
  // TearDown checks: no port, both events closed, no keys open.
}

// The quick scan over the ports the backend lists, all open at once.
class ScanTest : public DiscoveryTest {
 protected:
  void SetUp() override {
    DiscoveryTest::SetUp();
    SetSerialBackend(&backend_.inner);  // several ports open at a time here
    list_.list_opens = false;
  }
};

TEST_F(ScanTest, TheFirstListedPortThatAnswersWinsEveryPortIsGivenBackAndTheReportSaysWhy) {
  auto silent = backend_.Add("/dev/ttyUSB0");
  backend_.inner.Fail("/dev/ttyUSB1", OpenFailureKind::kBusy);
  backend_.inner.SetHolders("/dev/ttyUSB1", {{"minicom", 4242}});
  auto other = Modem("/dev/ttyACM0", "ati4\r\nOK\r\n");
  auto modem = Modem("/dev/ttyACM1", "ati4\r\n56000 QVRLMAZZ\r\n");
  auto later = Modem("/dev/ttyS0", "QVRLMAZZ");
  bool all_open_at_once = false;
  modem->SetResponder([&, weak = std::weak_ptr<test::FakeSerialDevice>(modem)](const test::FakeSerialDevice::Bytes&) {
    all_open_at_once = !silent->Closed() && !other->Closed() && !later->Closed();
    if (auto d = weak.lock()) d->QueueAnswer("ati4\r\n56000 QVRLMAZZ\r\n");
  });
  backend_.inner.SetListed({"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyS0"});

  SearchReport report;
  ASSERT_TRUE(FindModemPort(comm_, nullptr, port_, &report));
  EXPECT_EQ(Port(), "/dev/ttyACM1");
  EXPECT_TRUE(all_open_at_once);
  // A hit is taken as a registry hit is: no probe of COM1 to COM4.
  EXPECT_EQ(backend_.Opened(),
            (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyS0"}));
  const test::FakeSerialDevice::Bytes probe{'a', 't', 'i', '4', '\r', '\n'};
  for (const auto& device : {silent, other, modem, later}) {
    EXPECT_EQ(device->Writes(), std::vector<test::FakeSerialDevice::Bytes>{probe});
    EXPECT_TRUE(device->Closed());
    EXPECT_EQ(device->State(), "original");  // its own settings given back
  }
  // In the order decided: the busy one at once, then the answer without the
  // identifier; the silent one was not waited for (the modem had answered).
  ASSERT_EQ(report.size(), 2u);
  EXPECT_EQ(report[0].port, "/dev/ttyUSB1");
  EXPECT_EQ(report[0].verdict, PortVerdict::kCannotOpen);
  EXPECT_EQ(report[0].failure.kind, OpenFailureKind::kBusy);
  ASSERT_EQ(report[0].holders.size(), 1u);
  EXPECT_EQ(report[0].holders[0].name, "minicom");
  EXPECT_EQ(report[1].port, "/dev/ttyACM0");
  EXPECT_EQ(report[1].verdict, PortVerdict::kNoIdentifier);
  EXPECT_TRUE(diags_.Lines().empty());

  // Nothing answers: the probe of COM1 to COM4 runs after the scan, and the
  // report holds every port of both.
  backend_.inner.SetListed({"/dev/ttyUSB0"});
  auto com2 = Modem("COM2", "QVRLMAZZ");
  ASSERT_TRUE(FindModemPort(comm_, nullptr, port_, &report));
  EXPECT_EQ(Port(), "COM2");
  ASSERT_EQ(report.size(), 2u);
  EXPECT_EQ(report[0].port, "/dev/ttyUSB0");
  EXPECT_EQ(report[1].port, "COM1");
  EXPECT_EQ(report[1].failure.kind, OpenFailureKind::kMissing);
}

// What the search told its listener, in order.
struct HeardSearch final : SearchListener {
  void Asking(const std::string& what, Millis left) override { asked.emplace_back(what, left); }
  void PassedOver(const PortAttempt& attempt) override { passed.push_back(attempt.port); }
  std::vector<std::pair<std::string, Millis>> asked;
  std::vector<std::string> passed;
};

// COM1 is /dev/ttyS0 under another name: the probe does not ask it again,
// and the report names the device once. The probe's 50 s wait is told once
// a program second for the port it asks.
TEST_F(ScanTest, ADeviceIsAskedOnceUnderOneNameAndEveryWaitIsTold) {
  class Aliases final : public test::FakeSerialBackend {
   public:
    std::string DeviceKey(const char* name) override {
      return std::string(name) == "COM1" ? "/dev/ttyS0" : test::FakeSerialBackend::DeviceKey(name);
    }
  } aliases;
  SetSerialBackend(&aliases);
  auto ttys0 = aliases.Add("/dev/ttyS0");
  auto com1 = aliases.Add("COM1");
  auto com2 = aliases.Add("COM2");
  aliases.SetListed({"/dev/ttyS0"});
  SearchReport report;
  HeardSearch heard;
  EXPECT_FALSE(FindModemPort(comm_, nullptr, port_, &report, &heard));
  EXPECT_EQ(aliases.Opened(), (std::vector<std::string>{"/dev/ttyS0", "COM2", "COM3", "COM4"}));
  EXPECT_TRUE(com1->Writes().empty());
  const std::vector<std::string> ports = {"/dev/ttyS0", "COM2", "COM3", "COM4"};
  EXPECT_EQ(heard.passed, ports);
  ASSERT_EQ(report.size(), ports.size());
  for (std::size_t i = 0; i < ports.size(); ++i) EXPECT_EQ(report[i].port, ports[i]);
  std::vector<std::pair<std::string, Millis>> com2_waits;
  for (const auto& asked : heard.asked) {
    if (asked.first == "COM2") com2_waits.push_back(asked);
  }
  ASSERT_EQ(com2_waits.size(), 50u);
  for (std::size_t i = 0; i < com2_waits.size(); ++i) EXPECT_EQ(com2_waits[i].second, 50000 - 1000 * i);
  EXPECT_EQ(heard.asked.front(), (std::pair<std::string, Millis>{"/dev/ttyS0", 3000}));
}

// A modem on a pseudo-terminal: answers "ati4\r\n" with the identifier.
class PtyModem {
 public:
  PtyModem() : thread_([this] { Serve(); }) {}
  ~PtyModem() {
    stop_ = true;
    thread_.join();
  }
  const std::string& Path() const { return pty_.path; }

 private:
  void Serve() {
    std::string heard;
    while (!stop_) {
      pollfd fd{pty_.master, POLLIN, 0};
      if (::poll(&fd, 1, 20) <= 0) continue;
      char chunk[64];
      const ssize_t n = ::read(pty_.master, chunk, sizeof chunk);
      if (n <= 0) continue;
      heard.append(chunk, static_cast<std::size_t>(n));
      if (heard.find("ati4\r") == std::string::npos) continue;
      heard.clear();
      const std::string answer = "ati4\r\nKELVORA 56000 QVRLMAZZ\r\nOK\r\n";
      (void)!::write(pty_.master, answer.data(), answer.size());
    }
  }
  test::Pty pty_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The modem listed after two silent ports answers at once, and the scan
// takes it then, without waiting out the silent ports' 3000 ms.
TEST_F(ScanTest, TheModemBehindTwoSilentPseudoTerminalsIsTakenWhenItHasAnswered) {
  SetTimeDivisor(1);  // real time: the line's 250 ms gap is part of the figure
  test::Pty silent1, silent2;
  PtyModem modem;
  class Listed final : public SerialBackend {
   public:
    explicit Listed(std::vector<std::string> paths) : paths_(std::move(paths)) {}
    SerialHandle Open(const char* name) override { return PlatformSerialBackend().Open(name); }
    SerialHandle OpenPort(const char* name, OpenFailure& failure) override {
      return PlatformSerialBackend().OpenPort(name, failure);
    }
    std::vector<PortEntry> ListPorts() override {
      std::vector<PortEntry> ports;
      for (const std::string& path : paths_) ports.push_back(PortEntry{path, "", "", "", "", "", ""});
      return ports;
    }

   private:
    std::vector<std::string> paths_;
  };
  Listed listed({silent1.path, silent2.path, modem.Path()});
  SetSerialBackend(&listed);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(ScanListedPorts(comm_, port_));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  EXPECT_EQ(Port(), modem.Path());
  EXPECT_LT(took.count(), 2500) << "waited for the silent ports";
  std::printf("scan found the modem behind two silent ports in %lld ms\n", static_cast<long long>(took.count()));

  // Nothing answers: every silent port is passed over, in list order, after
  // the countdown of the scan's 3000 ms.
  Listed silent({silent1.path, silent2.path});
  SetSerialBackend(&silent);
  SetTimeDivisor(30);
  HeardSearch heard;
  SearchReport report;
  EXPECT_FALSE(ScanListedPorts(comm_, port_, &report, &heard));
  EXPECT_EQ(heard.passed, (std::vector<std::string>{silent1.path, silent2.path}));
  const std::string both = silent1.path + ", " + silent2.path;
  ASSERT_FALSE(heard.asked.empty());
  EXPECT_EQ(heard.asked.front(), (std::pair<std::string, Millis>{both, 3000}));
  for (std::size_t i = 1; i < heard.asked.size(); ++i) EXPECT_LT(heard.asked[i].second, heard.asked[i - 1].second);
}

}  // namespace
}  // namespace mfu
