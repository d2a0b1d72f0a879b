// Discovery over a fake installed-modem list and fake ports COM1 to COM4 (no
// real device is ever opened here).
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "serial/comm_port.h"
#include "serial/discovery.h"
#include "serial/modem_list.h"
#include "tests/support/diag_recorder.h"
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
  ASSERT_EQ(report.size(), 3u);
  EXPECT_EQ(report[0].port, "/dev/ttyUSB0");
  EXPECT_EQ(report[0].verdict, PortVerdict::kNoAnswer);
  EXPECT_EQ(report[1].verdict, PortVerdict::kCannotOpen);
  EXPECT_EQ(report[1].failure.kind, OpenFailureKind::kBusy);
  ASSERT_EQ(report[1].holders.size(), 1u);
  EXPECT_EQ(report[1].holders[0].name, "minicom");
  EXPECT_EQ(report[2].verdict, PortVerdict::kNoIdentifier);
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

}  // namespace
}  // namespace mfu
