#include <atomic>
#include <cstdint>

#include "platform/clock.h"
#include "platform/diag.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "serial/comm_port.h"
#include "serial/discovery.h"
#include "session/answer_reader.h"
#include "session/connection.h"
#include "session/monitor.h"
#include "ui/log.h"
#include "ui/window.h"

namespace mfu {

char PortName[kPortNameSize];

namespace {
// Whether the modem answered "a": a front-end that starts the update by
// itself (--yes) must not flash a modem that never showed its download mode.
std::atomic<bool> g_download_mode_answered{false};
}  // namespace

bool DownloadModeAnswered() { return g_download_mode_answered.load(); }

namespace {
void EnableButton(int id, bool enable) {
  if (Window* window = MainDialog(); window != nullptr) window->EnableButton(id, enable);
}
}  // namespace

void SetupCommPort() {
  g_download_mode_answered = false;
  AppendLogString(kTextToolStarts);
  // A build without real firmware must not be taken for one.
  if (FirmwareIsStandIn()) AppendLogString(kTextStandInImage);
  AppendLogString(kTextSearching);

  if (!FindModemPort(PortName)) {
    AppendLogString(kTextNoModemFound);
    return;
  }
  // The stand-in image goes to the simulated modem only: a real port is
  // refused before it is opened (the open alone would reset the modem).
  if (FirmwareIsStandIn() && TheSerialBackend().IsHardwarePort(PortName)) {
    AppendLogFormatted(kTextStandInRealPort, PortName);
    return;
  }

  SetPortHandle(OpenCommPort(PortName));
  if (!PortHandle()) {
    Diag("SetupCommPort() failed\n");
  } else {
    std::uint32_t bits = 0;
    if (!GetCommModemStatus(bits)) {
      CloseCommPort();
      AppendLogFormatted(kTextStatusLinesFailed, PortName);
    } else if ((bits & (kMsDsrOn | kMsCtsOn)) != 0) {
      // With CTS alone the session goes on as with DSR, so the user is told
      // where the modem was found in both cases.
      AppendLogFormatted(kTextModemFound, PortName);
    } else {
      CloseCommPort();
      AppendLogFormatted(kTextConnectionNotRight, PortName);
    }
  }

  if (!StartSessionMonitor()) {
    EnableButton(kIdStartUpdate, false);
    AppendLogString(kTextCannotAccessModem);
    return;
  }

  AppendLogString(kTextCheckingModem);
  SleepMs(kDownloadModePause);

  EnableButton(kIdStartUpdate, true);
  EnableButton(kIdHelp, true);
  EnableButton(kIdSaveLog, true);
  EnableButton(kIdBeenden, true);

  WriteToComm("at@d\r\n");
  ReadModemAnswer(false, kCommandAnswerTimeout);
  WriteToComm("a\r\n");
  g_download_mode_answered = ReadModemAnswer(true, kCommandAnswerTimeout);
}

}  // namespace mfu
