#include <cstdint>

#include "platform/clock.h"
#include "platform/diag.h"
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
void EnableButton(int id, bool enable) {
  if (Window* window = MainWindow(); window != nullptr) window->EnableButton(id, enable);
}
}  // namespace

void SetupCommPort() {
  AppendLogString(2009);
  AppendLogString(2010);

  if (!FindModemPort(PortName)) {
    AppendLogString(2014);
    return;
  }

  SetPortHandle(OpenCommPort(PortName));
  if (!PortHandle()) {
    Diag("SetupCommPort() failed\n");
  } else {
    std::uint32_t bits = 0;
    if (!GetCommModemStatus(bits)) {
      CloseCommPort();
      AppendLogFormatted(2011, PortName);
    } else if ((bits & (kMsDsrOn | kMsCtsOn)) != 0) {
      // With CTS alone the session goes on as with DSR, so the user is told
      // where the modem was found in both cases.
      AppendLogFormatted(2013, PortName);
    } else {
      CloseCommPort();
      AppendLogFormatted(2012, PortName);
    }
  }

  if (!StartSessionMonitor()) {
    EnableButton(kIdStartUpdate, false);
    AppendLogString(2016);
    return;
  }

  AppendLogString(2015);
  SleepMs(kDownloadModePause);

  EnableButton(kIdStartUpdate, true);
  EnableButton(kIdHelp, true);
  EnableButton(kIdSaveLog, true);
  EnableButton(kIdBeenden, true);

  WriteToComm("at@d\r\n");
  ReadModemAnswer(false, kCommandAnswerTimeout);
  WriteToComm("a\r\n");
  ReadModemAnswer(true, kCommandAnswerTimeout);
}

}  // namespace mfu
