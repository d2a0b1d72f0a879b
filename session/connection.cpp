#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/diag.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "serial/comm_port.h"
#include "serial/discovery.h"
#include "session/answer_reader.h"
#include "session/connection.h"
#include "session/monitor.h"
#include "session/session.h"
#include "ui/log.h"
#include "ui/window.h"

namespace mfu {

char PortName[kPortNameSize];

namespace {
void EnableButton(int id, bool enable) {
  if (Window* window = MainDialog(); window != nullptr) window->EnableButton(id, enable);
}

// Text 29, once per run: `told` is the session's record of it.
void TellModemManager(bool& told) {
  if (told) return;
  told = true;
  AppendLogString(kTextModemManagerHint);
}

// ModemManager opens every new serial port to look for modems; the user can
// stop it for the update.
bool HasModemManager(const std::vector<PortHolder>& holders) {
  for (const PortHolder& holder : holders) {
    if (holder.name == "ModemManager") return true;
  }
  return false;
}

// The line that says why `port` could not be opened and what to do. true
// when ModemManager holds it.
bool ExplainOpenFailure(const char* port, const OpenFailure& failure, const std::vector<PortHolder>& holders) {
  switch (failure.kind) {
    case OpenFailureKind::kNone:
      return false;
    case OpenFailureKind::kMissing:
      AppendLogFormatted(kTextPortMissing, port);
      return false;
    case OpenFailureKind::kNoPermission:
      AppendLogFormatted(kTextPortNoPermission, port);
      return false;
    case OpenFailureKind::kBusy: {
      // A holder of another user cannot be named: that it is one is said.
      const std::string who = holders.empty()                ? ""
                              : holders.front().other_user ? " (von einem Programm eines anderen Benutzers)"
                                                           : " (" + holders.front().name + ", PID " +
                                                                 std::to_string(holders.front().pid) + ")";
      AppendLogFormatted(kTextPortBusy, {port, who.c_str()});
      return HasModemManager(holders);
    }
    case OpenFailureKind::kNotSerial:
      AppendLogFormatted(kTextPortNotSerial, port);
      return false;
    case OpenFailureKind::kOther:
      AppendLogFormatted(kTextPortCannotOpen, port);
      return false;
    case OpenFailureKind::kUnreachable:
      AppendLogFormatted(kTextPortUnreachable, {port, failure.reason});
      return false;
  }
  return false;
}

// One line for a port the search passed over, and why. true when
// ModemManager holds it.
bool ExplainAttempt(const PortAttempt& attempt) {
  const char* port = attempt.port.c_str();
  switch (attempt.verdict) {
    case PortVerdict::kNotSearched:
      return false;
    case PortVerdict::kCannotOpen:
      return ExplainOpenFailure(port, attempt.failure, attempt.holders);
    case PortVerdict::kStatusFailed:
      AppendLogFormatted(kTextStatusLinesFailed, port);
      return false;
    case PortVerdict::kNoAnswer:
      AppendLogFormatted(kTextPortNoAnswer, port);
      return false;
    case PortVerdict::kNoIdentifier:
      AppendLogFormatted(kTextPortNoIdentifier, port);
      return false;
  }
  return false;
}

// Whole seconds, rounded up: a wait with 200 ms left still shows 1.
int SecondsLeft(Millis ms) { return static_cast<int>((static_cast<std::uint64_t>(ms) + 999) / 1000); }

void ShowWaiting(const std::string& what, int seconds_left) {
  if (Window* window = MainDialog(); window != nullptr) window->ShowWaiting(what.c_str(), seconds_left);
}

// The search as the user sees it: each port on a line of its own as soon as
// the search passes it over (under text 30), and the wait for the port being
// asked counting down. Window thread.
class SearchLines final : public SearchListener {
 public:
  ~SearchLines() override {
    if (counting_) ShowWaiting(what_, 0);
  }
  void Asking(const std::string& what, Millis left) override {
    what_ = what;
    counting_ = true;
    ShowWaiting(what_, SecondsLeft(left));
  }
  void PassedOver(const PortAttempt& attempt) override {
    if (attempt.verdict == PortVerdict::kNotSearched) return;
    if (!headed_) AppendLogString(kTextPortsTried);
    headed_ = true;
    AppendLog("  ");
    modem_manager_ = ExplainAttempt(attempt) || modem_manager_;
  }
  bool ModemManagerHolds() const { return modem_manager_; }

 private:
  std::string what_;
  bool counting_ = false;
  bool headed_ = false;
  bool modem_manager_ = false;
};

// The countdown of the connection procedure's waits on the modem's port,
// for as long as it lives: `later` program ms of waits still to come are
// counted in (the 2000 ms pause and the 50 s answer to "at@d\r\n" count
// down as one wait for download mode). Window thread.
class Countdown final : public WaitTicker {
 public:
  Countdown(CommPort& port, std::string what, Millis later = 0)
      : port_(port), what_(std::move(what)), later_(later) {
    port_.SetWaitTicker(this);
  }
  ~Countdown() override {
    port_.SetWaitTicker(nullptr);
    ShowWaiting(what_, 0);
  }
  Countdown(const Countdown&) = delete;
  Countdown& operator=(const Countdown&) = delete;
  void Later(Millis later) { later_ = later; }
  void Waiting(Millis left) override { ShowWaiting(what_, SecondsLeft(left + later_)); }

 private:
  CommPort& port_;
  const std::string what_;
  Millis later_;
};

// A program that has the port open without a lock can take the modem's
// answers away from us: name each one before the update can be started.
void WarnOtherHolders(const char* port, bool& modem_manager_told) {
  const std::vector<PortHolder> holders = TheSerialBackend().OtherHolders(port);
  for (const PortHolder& holder : holders) {
    if (holder.other_user) continue;  // nobody to name
    const std::string pid = std::to_string(holder.pid);
    AppendLogFormatted(kTextPortShared, {port, holder.name.c_str(), pid.c_str()});
  }
  if (HasModemManager(holders)) TellModemManager(modem_manager_told);
}
// A port named with --port, asked once for the identifier before it is
// called the modem's; the line that says it did not answer so otherwise.
bool AskNamedPort(CommPort& port) {
  // As the quick scan asks: "ati4\r\n", the first burst within its 3000 ms.
  bool identified = false;
  {
    Countdown identification(port, std::string(PortName) + ": ati4");
    port.WriteToComm("ati4\r\n");
    identified = IsSupportedModemAnswer(port, kScanAnswerLimit);
  }
  if (identified || port.CommWaitsInterrupted()) return identified;
  // Said instead, and the procedure goes on: the download mode's answer
  // still decides whether this is the modem.
  AppendLogFormatted(port.LastReadCount() > 0 ? kTextPortNoIdentifier : kTextPortNoAnswer, PortName);
  return false;
}
}  // namespace

void Session::SetupCommPort() {
  download_mode_answered_ = false;
  port_.ClearCommInterrupt();
  modem_manager_told_ = false;
  AppendLogString(kTextToolStarts);
  // A build without real firmware must not be taken for one.
  if (FirmwareIsStandIn()) AppendLogString(kTextStandInImage);
  // Before anything is sent: ModemManager may answer for the modem or take
  // its answers, also when it runs as another user and holds no port yet.
  if (TheSerialBackend().ModemManagerRuns()) TellModemManager(modem_manager_told_);
  AppendLogString(kTextSearching);

  SearchReport tried;
  bool found = false;
  bool modem_manager_holds = false;
  {
    SearchLines lines;
    found = FindModemPort(port_, port_option_.c_str(), PortName, &tried, &lines);
    modem_manager_holds = lines.ModemManagerHolds();
  }
  // Said once, however many ports the stand-in build passed over.
  if (std::any_of(tried.begin(), tried.end(),
                  [](const PortAttempt& attempt) { return attempt.verdict == PortVerdict::kNotSearched; })) {
    AppendLogString(kTextStandInPortsSkipped);
  }
  if (!found) {
    // Cut short by the user: nothing was found because nothing was finished.
    if (port_.CommWaitsInterrupted()) return;
    AppendLogString(kTextNoModemFound);
    if (modem_manager_holds) TellModemManager(modem_manager_told_);
    AppendLogString(kTextSeeListPorts);
    return;
  }
  // The stand-in image goes to the simulated modem only: a real port is
  // refused before it is opened (the open alone would reset the modem).
  if (!PortAllowedInThisBuild(PortName)) {
    AppendLogFormatted(kTextStandInRealPort, PortName);
    return;
  }

  OpenFailure failure;
  port_.SetPortHandle(port_.OpenCommPort(PortName, failure));
  if (!port_.PortHandle()) {
    Diag("SetupCommPort() failed\n");
  } else {
    std::uint32_t bits = 0;
    if (!port_.GetCommModemStatus(bits)) {
      port_.CloseCommPort();
      AppendLogFormatted(kTextStatusLinesFailed, PortName);
    } else if ((bits & (kMsDsrOn | kMsCtsOn)) != 0) {
      // With CTS alone the session goes on as with DSR, so the user is told
      // where the modem was found in both cases; a port named with --port
      // only once it has answered with the identifier.
      if (port_option_.empty() || AskNamedPort(port_)) AppendLogFormatted(kTextModemFound, PortName);
      WarnOtherHolders(PortName, modem_manager_told_);
    } else {
      port_.CloseCommPort();
      AppendLogFormatted(kTextConnectionNotRight, PortName);
    }
  }

  // Cut short while the named port was asked for the identifier: the modem
  // is not in download mode, so it gets nothing more (no "c" either), and
  // no monitor starts.
  if (port_.CommWaitsInterrupted()) {
    if (port_.PortHandle()) port_.CloseCommPort();
    return;
  }
  if (!monitor_.StartSessionMonitor()) {
    EnableButton(kIdStartUpdate, false);
    AppendLogString(kTextCannotAccessModem);
    if (failure.kind != OpenFailureKind::kNone) {
      std::vector<PortHolder> holders;
      if (failure.kind == OpenFailureKind::kBusy) holders = TheSerialBackend().HoldersOfBusyPort(PortName);
      if (ExplainOpenFailure(PortName, failure, holders)) TellModemManager(modem_manager_told_);
    }
    return;
  }

  AppendLogString(kTextCheckingModem);
  const std::string port_name = PortName;
  {
    Countdown download_mode(port_, port_name + ": at@d", kCommandAnswerTimeout);
    port_.PauseComm(kDownloadModePause);
    if (port_.CommWaitsInterrupted()) return;
    // The rest of the identification's answer (a late burst, its "OK") must
    // not be taken for the answer to "at@d".
    if (!port_option_.empty()) (void)port_.PurgeCommInput();

    EnableButton(kIdStartUpdate, true);
    EnableButton(kIdHelp, true);
    EnableButton(kIdSaveLog, true);
    EnableButton(kIdBeenden, true);

    download_mode.Later(0);
    port_.WriteToComm("at@d\r\n");
    ReadModemAnswer(port_, false, kCommandAnswerTimeout);
  }
  if (port_.CommWaitsInterrupted()) return;
  {
    Countdown answer(port_, port_name + ": a");
    port_.WriteToComm("a\r\n");
    download_mode_answered_ = ReadModemAnswer(port_, true, kCommandAnswerTimeout);
  }
  // Text 29 was shown before the start; now that the modem is silent where
  // it must answer, ModemManager, which takes such answers, is named as the
  // likely cause.
  if (!download_mode_answered_ && modem_manager_told_ && !port_.CommWaitsInterrupted()) {
    AppendLogString(kTextModemManagerCause);
  }
}


}  // namespace mfu
