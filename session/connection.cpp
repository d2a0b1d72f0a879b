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

// After "no modem found": every port the search tried, and why it passed it
// over.
void ReportPortsTried(const SearchReport& tried, bool& modem_manager_told) {
  const auto searched = [](const PortAttempt& attempt) { return attempt.verdict != PortVerdict::kNotSearched; };
  if (std::none_of(tried.begin(), tried.end(), searched)) return;
  AppendLogString(kTextPortsTried);
  bool modem_manager = false;
  for (const PortAttempt& attempt : tried) {
    if (!searched(attempt)) continue;
    AppendLog("  ");
    const char* port = attempt.port.c_str();
    switch (attempt.verdict) {
      case PortVerdict::kNotSearched:
        break;
      case PortVerdict::kCannotOpen:
        modem_manager = ExplainOpenFailure(port, attempt.failure, attempt.holders) || modem_manager;
        break;
      case PortVerdict::kStatusFailed:
        AppendLogFormatted(kTextStatusLinesFailed, port);
        break;
      case PortVerdict::kNoAnswer:
        AppendLogFormatted(kTextPortNoAnswer, port);
        break;
      case PortVerdict::kNoIdentifier:
        AppendLogFormatted(kTextPortNoIdentifier, port);
        break;
    }
  }
  if (modem_manager) TellModemManager(modem_manager_told);
}

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
  const bool found = FindModemPort(port_, port_option_.c_str(), PortName, &tried);
  // Said once, however many ports the stand-in build passed over.
  if (std::any_of(tried.begin(), tried.end(),
                  [](const PortAttempt& attempt) { return attempt.verdict == PortVerdict::kNotSearched; })) {
    AppendLogString(kTextStandInPortsSkipped);
  }
  if (!found) {
    // Cut short by the user: nothing was found because nothing was finished.
    if (port_.CommWaitsInterrupted()) return;
    AppendLogString(kTextNoModemFound);
    ReportPortsTried(tried, modem_manager_told_);
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
      // where the modem was found in both cases.
      AppendLogFormatted(kTextModemFound, PortName);
      WarnOtherHolders(PortName, modem_manager_told_);
    } else {
      port_.CloseCommPort();
      AppendLogFormatted(kTextConnectionNotRight, PortName);
    }
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
  port_.PauseComm(kDownloadModePause);
  if (port_.CommWaitsInterrupted()) return;

  EnableButton(kIdStartUpdate, true);
  EnableButton(kIdHelp, true);
  EnableButton(kIdSaveLog, true);
  EnableButton(kIdBeenden, true);

  port_.WriteToComm("at@d\r\n");
  ReadModemAnswer(port_, false, kCommandAnswerTimeout);
  if (port_.CommWaitsInterrupted()) return;
  port_.WriteToComm("a\r\n");
  download_mode_answered_ = ReadModemAnswer(port_, true, kCommandAnswerTimeout);
}

}  // namespace mfu
