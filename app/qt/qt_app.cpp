#include "app/qt/qt_app.h"

#include <QApplication>
#include <QFileInfo>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "app/qt/qt_icon.h"
#include "app/qt/qt_signals.h"
#include "app/qt/qt_update_window.h"
#include "platform/diag.h"
#include "ui/window.h"

namespace mfu {
namespace {

// The window whose modal run is under way, for StopSessionAtExit; set and
// cleared on the GUI thread, whose id is written before the set (and read only
// after a load that finds the window set).
std::atomic<QtUpdateWindow*> g_running_window{nullptr};
std::thread::id g_gui_thread;

// Runs among the exit handlers. The xcb platform plugin calls exit(1) on the
// GUI thread when the display connection breaks, from inside the modal run
// that then never returns: without this the session's threads would go on
// with the port open while the static destructors run. So the session is
// stopped here as the close box stops it: the workers blocked in window calls
// are let go, the monitor closes the port and restores its settings, the
// sender is joined, each within 5000 ms; the exit status stays the caller's.
// Only on the GUI thread: the stop joins the workers, and any other thread
// that calls exit() may be one of them, or race the window's end. After the
// run has ended (a normal close) there is nothing to do.
void StopSessionAtExit() {
  QtUpdateWindow* window = g_running_window.load();
  if (window == nullptr || std::this_thread::get_id() != g_gui_thread) return;
  g_running_window.store(nullptr);
  window->Controller().OnProgramExit();
}

// For its lifetime, an exit() on the GUI thread stops the window's session
// (StopSessionAtExit). GUI thread.
class StopSessionOnExit {
 public:
  explicit StopSessionOnExit(QtUpdateWindow& window) {
    // Registered once, as late as possible, so that it runs before the static
    // destructors of what was set up before the window's run.
    static const bool registered = std::atexit(&StopSessionAtExit) == 0;
    if (!registered) Diag("atexit() failed: an exit under the window leaves the session running\n");
    g_gui_thread = std::this_thread::get_id();
    g_running_window.store(&window);
  }
  ~StopSessionOnExit() { g_running_window.store(nullptr); }
  StopSessionOnExit(const StopSessionOnExit&) = delete;
  StopSessionOnExit& operator=(const StopSessionOnExit&) = delete;
};

}  // namespace

int RunQtApplication(int argc, char** argv, SessionControl& session) {
  QApplication application(argc, argv);
  // Every message box carries the program file's base name as its caption.
  QString name;
  if (argc > 0 && argv[0] != nullptr) name = QFileInfo(QString::fromLocal8Bit(argv[0])).completeBaseName();
  if (name.isEmpty()) name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
  QCoreApplication::setApplicationName(name);
  QApplication::setWindowIcon(MakeAppIcon());

  int status = 0;
  {
    QtUpdateWindow window(session);
    SetMainDialog(&window);
    WatchTerminationSignals(window.Controller(), &window);
    {
      const StopSessionOnExit stop_on_exit(window);
      // The modal run; its result is not looked at. The session's threads have
      // ended when it returns (the window closes only after the stop).
      window.exec();
    }
    SetMainDialog(nullptr);
    status = window.Controller().ExitStatus();
  }
  return status;
}

}  // namespace mfu
