// Finding the modem's port: the named port, the installed-modem lists, the
// quick scan, then the probe. Runs on the window thread before any other
// thread exists.
#include "serial/discovery.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "resources/resources.h"
#include "serial/comm_port.h"
#include "serial/modem_list.h"

namespace mfu {
namespace {

constexpr std::uint32_t kSubkeyNameSize = 128;
constexpr std::uint32_t kValueSize = 32;
constexpr Millis kProbeAnswerLimit = 50000;
constexpr const char* kProbeCommand = "ati4\r\n";
constexpr const char kIdentifier[] = "QVRLMAZZ";
// How often the quick scan looks at its ports while it waits.
constexpr Millis kScanPollMs = 10;

bool IsSupportedModel(const char* model) {
  return std::strstr(model, "Orbalis 56") != nullptr || std::strstr(model, "Kelvora 56000") != nullptr;
}

bool HoldsIdentifier(const std::uint8_t* bytes, std::uint32_t count) {
  const std::uint8_t* end = bytes + count;
  const std::uint8_t* id = reinterpret_cast<const std::uint8_t*>(kIdentifier);
  return std::search(bytes, end, id, id + sizeof kIdentifier - 1) != end;
}

void CopyName(const char* name, char* port_name) {
  const std::size_t length = std::min(std::strlen(name), kPortNameSize - 1);
  std::memcpy(port_name, name, length);
  port_name[length] = '\0';
}

// A port the search passed over; a busy one with who holds it.
PortAttempt Attempt(const std::string& port, PortVerdict verdict, const OpenFailure& failure = {}) {
  PortAttempt attempt;
  attempt.port = port;
  attempt.verdict = verdict;
  attempt.failure = failure;
  if (failure.kind == OpenFailureKind::kBusy) attempt.holders = TheSerialBackend().HoldersOfBusyPort(port.c_str());
  return attempt;
}

bool IsComOneToFour(const std::string& name) {
  return name.size() == 4 && (name[0] == 'C' || name[0] == 'c') && (name[1] == 'O' || name[1] == 'o') &&
         (name[2] == 'M' || name[2] == 'm') && name[3] >= '1' && name[3] <= '4';
}

// One port of the quick scan: opened with the opening steps of OpenCommPort,
// but with settings of its own (several are open at once), which it gives
// back when it goes. Owns its device; window thread only.
class ScannedPort {
 public:
  ScannedPort(std::string name, SerialHandle device) : name_(std::move(name)), device_(std::move(device)) {}
  // A port that could not be opened: passed over from the start.
  ScannedPort(std::string name, const OpenFailure& failure)
      : name_(std::move(name)), failure_(failure), decided_(true), verdict_(PortVerdict::kCannotOpen) {}
  ~ScannedPort() {
    if (!device_) return;
    (void)device_->Purge();
    (void)device_->SetTimeouts(timeouts_);
    (void)device_->SetState(state_);
    device_->Close();
  }
  ScannedPort(const ScannedPort&) = delete;
  ScannedPort& operator=(const ScannedPort&) = delete;

  const std::string& Name() const { return name_; }
  const OpenFailure& Failure() const { return failure_; }
  bool IsOpen() const { return device_ != nullptr; }
  void BeginOpen() { BeginPortOpen(*device_, &state_, state_); }
  void EndOpen() { EndPortOpen(*device_, &timeouts_); }

  // As the probe does: no status, nothing sent. Then "ati4\r\n" and the read
  // of the first burst armed.
  void SendProbe() {
    std::uint32_t bits = 0, error = 0;
    if (!device_->GetModemStatus(bits, error)) return Decide(PortVerdict::kStatusFailed);
    (void)device_->ClearErrors();
    const auto* command = reinterpret_cast<const std::uint8_t*>(kProbeCommand);
    const auto length = static_cast<std::uint32_t>(std::strlen(kProbeCommand));
    if (device_->StartWrite(command, length).state == IoResult::State::kPending) (void)device_->FinishWrite();
    const IoResult read = device_->StartRead(answer_.get(), kModemResponseBufferSize);
    if (read.state == IoResult::State::kCompleted) return Judge(read.count);
    if (read.state == IoResult::State::kFailed && read.error != kErrorIoPending) Decide(PortVerdict::kNoAnswer);
  }

  // Looks for the first burst without waiting for it (a burst that has
  // begun is taken whole). true once the port is decided.
  bool Poll() {
    if (decided_) return true;
    const IoResult result = device_->ReadResult();
    if (result.state == IoResult::State::kCompleted) {
      Judge(result.count);
    } else if (result.error != kErrorIoIncomplete) {
      Decide(PortVerdict::kNoAnswer);
    }
    return decided_;
  }

  bool Decided() const { return decided_; }
  bool Found() const { return found_; }
  PortVerdict Verdict() const { return verdict_; }
  void GiveUp() { Decide(PortVerdict::kNoAnswer); }

 private:
  void Judge(std::uint32_t count) {
    if (count == 0) return Decide(PortVerdict::kNoAnswer);
    found_ = HoldsIdentifier(answer_.get(), std::min<std::uint32_t>(count, kModemResponseBufferSize));
    Decide(PortVerdict::kNoIdentifier);
  }
  void Decide(PortVerdict verdict) {
    decided_ = true;
    verdict_ = verdict;
  }

  std::string name_;
  SerialHandle device_;
  OpenFailure failure_;
  PortSettings state_;
  PortSettings timeouts_;
  std::unique_ptr<std::uint8_t[]> answer_ = std::make_unique<std::uint8_t[]>(kModemResponseBufferSize);
  bool decided_ = false;
  bool found_ = false;
  PortVerdict verdict_ = PortVerdict::kNoAnswer;
};

}  // namespace

char* ReadRegistryString(std::uintptr_t key, const char* value_name, char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size == 0) return nullptr;
  std::uint32_t stored = size;
  if (!TheModemList().QueryValue(key, value_name, buffer, stored)) return nullptr;
  // A string value need not carry its NUL: add it when there is room, and
  // count a value that fills the buffer without one as one that does not fit
  // (cutting it could turn a longer model name into a match).
  if (stored > size) return nullptr;
  if (std::memchr(buffer, '\0', stored) == nullptr) {
    if (stored >= size) return nullptr;
    buffer[stored] = '\0';
  }
  return buffer;
}

namespace {

void FindModemInList(InstalledModemList& modems, char* port_name) {
  port_name[0] = '\0';
  KeyHandle list = 0;
  if (!modems.OpenList(list)) return;

  for (std::uint32_t index = 0;; ++index) {
    char name[kSubkeyNameSize] = {};
    std::uint32_t name_size = kSubkeyNameSize;
    if (!modems.EnumSubkey(list, index, name, name_size)) break;
    name[kSubkeyNameSize - 1] = '\0';
    KeyHandle subkey = 0;
    if (!modems.OpenSubkey(list, name, subkey)) continue;

    char value[kValueSize] = {};
    if (ReadRegistryString(subkey, "Model", value, kValueSize) == nullptr) value[0] = '\0';
    if (IsSupportedModel(value)) {
      // The first supported modem decides, even when its port is unreadable.
      value[0] = '\0';
      if (ReadRegistryString(subkey, "AttachedTo", value, kValueSize) != nullptr) {
        // value holds at most kValueSize - 1 characters, well inside the
        // port name's kPortNameSize bytes.
        CopyName(value, port_name);
      }
      modems.CloseKey(subkey);
      break;
    }
    modems.CloseKey(subkey);
  }
  modems.CloseKey(list);
}

}  // namespace

void FindModemInRegistry(char* port_name) {
  FindModemInList(TheModemList(), port_name);
  // Windows 2000 and later keep their modems in the NT modem class.
  if (port_name[0] == '\0' && TheSecondModemList() != nullptr) FindModemInList(*TheSecondModemList(), port_name);
}

bool IsSupportedModemAnswer(CommPort& port, Millis limit) {
  const int read = port.ReadFromComm(ModemResponseBuffer, kModemResponseBufferSize, limit);
  if (read <= 0) return false;
  // The buffer carries no terminator and may hold an earlier answer behind
  // this one: search only the bytes of this read.
  return HoldsIdentifier(ModemResponseBuffer, std::min<std::uint32_t>(static_cast<std::uint32_t>(read), kModemResponseBufferSize));
}

bool PortAllowedInThisBuild(const char* port_name) {
  return !FirmwareIsStandIn() || !TheSerialBackend().IsHardwarePort(port_name);
}

namespace {

void Tell(SearchListener* listener, SearchReport* report, const PortAttempt& attempt) {
  if (listener != nullptr) listener->PassedOver(attempt);
  if (report != nullptr) report->push_back(attempt);
}

// How the scan ends: at the first port whose answer holds the identifier
// (the search), or once every port is decided (--list-ports --probe).
enum class ScanUntil { kFirstHit, kAllDecided };

// The scan's machinery over `entries`: opened at once, one DTR drop for all,
// "ati4\r\n" to each, then the first bursts watched until the scan ends or
// kScanAnswerLimit passes. Each port passed over is told (and recorded) as
// soon as it is decided; the silent ones at the end, in list order. Returns
// one flag per entry: its answer held the identifier.
std::vector<bool> RunScan(CommPort& comm, const std::vector<PortEntry>& entries, ScanUntil until,
                          SearchReport* report, SearchListener* listener) {
  SerialBackend& backend = TheSerialBackend();
  std::vector<std::unique_ptr<ScannedPort>> ports;  // nullptr: not searched
  bool any_open = false;
  for (const PortEntry& entry : entries) {
    // Not even opened: the open alone drops DTR on the line.
    if (!PortAllowedInThisBuild(entry.path.c_str())) {
      Tell(listener, report, Attempt(entry.path, PortVerdict::kNotSearched));
      ports.push_back(nullptr);
      continue;
    }
    OpenFailure failure;
    SerialHandle device = backend.OpenPort(entry.path.c_str(), failure);
    if (device) {
      ports.push_back(std::make_unique<ScannedPort>(entry.path, std::move(device)));
      any_open = true;
    } else {
      Tell(listener, report, Attempt(entry.path, PortVerdict::kCannotOpen, failure));
      ports.push_back(nullptr);
    }
  }

  if (any_open) {
    // One DTR drop for all of them: the scan takes its 100 ms once.
    for (auto& port : ports) {
      if (port) port->BeginOpen();
    }
    SleepMs(kDtrDropMs);
    for (auto& port : ports) {
      if (port) port->EndOpen();
    }
    for (auto& port : ports) {
      if (port) port->SendProbe();
    }
  }

  // The first complete answer that holds the identifier is taken at once,
  // also while a port listed before it is still silent: waiting out that
  // port's 3000 ms could only find a second modem of the same kind there,
  // and this program updates one modem, whichever it is, so the earlier
  // port's answer could not change the outcome for the user. Of several
  // answers judged in the same round, the earlier listed wins.
  const auto started = std::chrono::steady_clock::now();
  const auto deadline = DeadlineAfter(kScanAnswerLimit);
  std::vector<bool> found(ports.size(), false);
  std::vector<bool> told(ports.size(), false);
  long seconds_told = -1;  // the countdown's last whole second
  bool hit = false;
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    // A port still silent when the time is up has not answered: those are
    // told in list order, in the last round.
    const bool late = now >= deadline;
    std::string silent;
    for (std::size_t i = 0; i < ports.size(); ++i) {
      ScannedPort* port = ports[i].get();
      if (port == nullptr || told[i]) continue;
      (void)port->Poll();
      if (late && !port->Decided()) port->GiveUp();
      if (!port->Decided()) {
        silent += (silent.empty() ? "" : ", ") + port->Name();
        continue;
      }
      told[i] = true;
      if (port->Found()) {
        found[i] = true;
        hit = true;
      } else {
        Tell(listener, report, Attempt(port->Name(), port->Verdict()));
      }
    }
    if ((hit && until == ScanUntil::kFirstHit) || silent.empty() || comm.CommWaitsInterrupted()) break;
    // The countdown, once a program second.
    const long seconds = static_cast<long>((now - started) / RealDuration(kWaitTickMs));
    if (listener != nullptr && seconds > seconds_told) {
      seconds_told = seconds;
      const Millis spent = static_cast<Millis>(std::min<long>(seconds, kScanAnswerLimit / kWaitTickMs)) * kWaitTickMs;
      listener->Asking(silent, kScanAnswerLimit - spent);
    }
    SleepMs(kScanPollMs);
  }
  ports.clear();  // every port closed, its settings given back
  return found;
}

}  // namespace

bool ScanListedPorts(CommPort& comm, char* port_name, SearchReport* report, SearchListener* listener,
                     std::vector<std::string>* asked) {
  port_name[0] = '\0';
  SerialBackend& backend = TheSerialBackend();
  const std::vector<PortEntry> entries = backend.ListPorts();
  if (asked != nullptr) {
    for (const PortEntry& entry : entries) asked->push_back(backend.DeviceKey(entry.path.c_str()));
  }
  const std::vector<bool> found = RunScan(comm, entries, ScanUntil::kFirstHit, report, listener);
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (!found[i]) continue;
    CopyName(entries[i].path.c_str(), port_name);
    return true;
  }
  return false;
}

std::vector<bool> ProbePortList(CommPort& comm, const std::vector<PortEntry>& ports) {
  return RunScan(comm, ports, ScanUntil::kAllDecided, nullptr, nullptr);
}

namespace {

// The probe's 50 s wait for one port, told to the search's listener.
class ProbeTicker final : public WaitTicker {
 public:
  ProbeTicker(SearchListener& listener, std::string port) : listener_(listener), port_(std::move(port)) {}
  void Waiting(Millis left) override { listener_.Asking(port_, left); }

 private:
  SearchListener& listener_;
  const std::string port_;
};

}  // namespace

bool ProbeCommPorts(CommPort& port, char* port_name, SearchReport* report, SearchListener* listener,
                    const std::vector<std::string>* skip) {
  port_name[0] = '\0';
  port.ResetReadRecord();
  port.ReadCompleteEvent = MakeEvent(Event::Reset::kManual);
  port.WriteCompleteEvent = MakeEvent(Event::Reset::kManual);

  std::vector<std::string> names;
  for (int n = 1; n <= 4; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "COM%d", n);
    names.emplace_back(name);
  }
  // Windows 2000 and later also name ports above COM4 (USB adapters).
  for (std::string& name : TheSerialBackend().FurtherProbePorts()) {
    if (!IsComOneToFour(name)) names.push_back(std::move(name));
  }

  bool found = false;
  for (std::size_t i = 0; i < names.size() && !found && !port.CommWaitsInterrupted(); ++i) {
    const char* name = names[i].c_str();
    // A device the scan has asked under its own name already: one name, one
    // answer, one line per device.
    if (skip != nullptr && std::find(skip->begin(), skip->end(), TheSerialBackend().DeviceKey(name)) != skip->end()) {
      continue;
    }
    if (!PortAllowedInThisBuild(name)) {
      Tell(listener, report, Attempt(names[i], PortVerdict::kNotSearched));
      continue;
    }
    OpenFailure failure;
    port.SetPortHandle(port.OpenCommPort(name, failure));
    if (!port.PortHandle()) {
      Tell(listener, report, Attempt(names[i], PortVerdict::kCannotOpen, failure));
      continue;
    }
    std::uint32_t status = 0;
    if (!port.GetCommModemStatus(status)) {
      port.CloseCommPort();
      Tell(listener, report, Attempt(names[i], PortVerdict::kStatusFailed));
      continue;
    }
    (void)port.WriteToComm(kProbeCommand);
    std::unique_ptr<ProbeTicker> ticker;
    if (listener != nullptr) ticker = std::make_unique<ProbeTicker>(*listener, names[i]);
    WaitTicker* const earlier = port.CurrentWaitTicker();
    port.SetWaitTicker(ticker.get());
    const bool answered = IsSupportedModemAnswer(port, kProbeAnswerLimit);
    port.SetWaitTicker(earlier);
    if (answered) {
      CopyName(name, port_name);
      found = true;
    } else {
      port_name[0] = '\0';
      Tell(listener, report,
           Attempt(names[i], port.LastReadCount() > 0 ? PortVerdict::kNoIdentifier : PortVerdict::kNoAnswer));
    }
    port.CloseCommPort();
  }

  port.ReadCompleteEvent.reset();
  port.WriteCompleteEvent.reset();
  return found;
}

bool FindModemPort(CommPort& port, const char* named_port, char* port_name, SearchReport* report,
                   SearchListener* listener) {
  if (report != nullptr) report->clear();
  if (named_port != nullptr && named_port[0] != '\0') {
    CopyName(named_port, port_name);  // taken as it is; the connection procedure asks it
    return true;
  }
  FindModemInRegistry(port_name);
  if (port_name[0] != '\0') return true;  // taken as it is, without a probe
  std::vector<std::string> asked;
  if (ScanListedPorts(port, port_name, report, listener, &asked)) return true;  // as good as a registry hit
  if (port.CommWaitsInterrupted()) return false;
  return ProbeCommPorts(port, port_name, report, listener, &asked);
}

}  // namespace mfu
