// The Windows program: the update dialog, run modally, and nothing else. It
// reads no command line, no environment and no settings.
#include <windows.h>

#include <commctrl.h>

#include "app/journal_run.h"
#include "app/real_session.h"
#include "app/update_dialog.h"
#include "app/win32/win32_window.h"
#include "platform/clock.h"
#include "platform/win32/debug_output.h"
#include "resources/resources.h"
#include "resources/win32/module_instance.h"
#include "ui/window.h"

namespace mfu {

// Start-up in the order the program has always had: common controls (the
// progress bar class), the start-up message, the module instance, the modal
// dialog; the program ends when the dialog has closed.
int UpdateApp(HINSTANCE instance) {
  UseDebuggerDiagnostics();
#if defined(MFU_TEST_TIME_DIVISOR)
  // Only in the end-to-end test's build of the program (ModemUpdateTest.exe):
  // every time of the program runs that many times faster, so that 728
  // answers, each ended by the line's 250 ms quiet gap, do not take minutes.
  SetTimeDivisor(MFU_TEST_TIME_DIVISOR);
#endif
  ::InitCommonControls();
  const UINT startup_message_number = ::RegisterWindowMessageA(kStartupMessageName);
  SetModuleInstance(instance);
  SetResourceSource(&BuiltInResources());

  RunJournal journal(std::string{});
  Win32UpdateWindow window(instance, startup_message_number);
  SetMainDialog(journal.Attach(window));
  RealSession session;
  UpdateDialog dialog(window, window, session);
  (void)window.Run(dialog);
  SetMainDialog(nullptr);
  // As the Linux program's: 0 success, 1 failure or cancel, 2 no modem or no
  // connection, 3 no update started.
  const int status = dialog.ExitStatus();
  journal.Finish(status);
  return status;
}

}  // namespace mfu

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return mfu::UpdateApp(instance); }
