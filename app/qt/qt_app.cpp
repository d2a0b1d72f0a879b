#include "app/qt/qt_app.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "app/exit_status.h"
#include "app/qt/qt_icon.h"
#include "app/qt/qt_signals.h"
#include "app/qt/qt_update_window.h"
#include "platform/diag.h"
#include "ui/journal.h"
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

// While the QApplication is being made: the toolkit ends the program with a
// fatal message when no platform plugin can start, which is what happens
// when DISPLAY names a server that does not answer. That message is replaced
// by the report and the program's own status. What the toolkit says before it
// (its plugin's English warnings) is held back, and passed on only when the
// application came up after all.
NoDisplayReport g_report_no_display = nullptr;
QtMessageHandler g_previous_handler = nullptr;
struct HeldMessage {
  QtMsgType type;
  QByteArray category;
  QString text;
};
std::mutex g_held_lock;
std::vector<HeldMessage> g_held;

void WhileStartingUp(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg && message.contains(QLatin1String("platform plugin"))) {
    if (g_report_no_display != nullptr) g_report_no_display();
    std::fflush(stderr);
    // Not exit(): nothing of the half-made application may run its clean-up.
    std::_Exit(kExitDeclined);
  }
  if (type == QtFatalMsg) {
    g_previous_handler(type, context, message);
    return;
  }
  const std::lock_guard<std::mutex> guard(g_held_lock);
  g_held.push_back({type, QByteArray(context.category != nullptr ? context.category : "default"), message});
}

// Ends the start-up watch and passes on what it held back.
void EndStartUpWatch() {
  qInstallMessageHandler(g_previous_handler);
  std::vector<HeldMessage> held;
  {
    const std::lock_guard<std::mutex> guard(g_held_lock);
    held.swap(g_held);
  }
  for (const HeldMessage& m : held) {
    const QMessageLogContext context(nullptr, 0, nullptr, m.category.constData());
    g_previous_handler(m.type, context, m.text);
  }
}

// No platform chosen and no display named: the toolkit could only fail.
bool NoDisplayNamed() {
  return qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
         qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

bool InstallGermanQtTexts() {
  const QLocale german(QLocale::German, QLocale::Germany);
  // Dates, sizes and file type names in the file dialog follow the default
  // locale, not the translation.
  QLocale::setDefault(german);
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(german, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

int RunQtApplication(int argc, char** argv, SessionControl& session, NoDisplayReport report_no_display) {
  if (NoDisplayNamed()) {
    if (report_no_display != nullptr) report_no_display();
    return kExitDeclined;
  }
  g_report_no_display = report_no_display;
  g_previous_handler = qInstallMessageHandler(&WhileStartingUp);
  QApplication application(argc, argv);
  EndStartUpWatch();
  // The window's own texts are German; Qt's dialogs must not be English
  // beside them. Without the translation they stay English, and work.
  if (!InstallGermanQtTexts()) Diag("Qt's German translation (qtbase_de) not found: its dialogs stay English\n");
  // Every message box carries the program file's base name as its caption.
  QString name;
  if (argc > 0 && argv[0] != nullptr) name = QFileInfo(QString::fromLocal8Bit(argv[0])).completeBaseName();
  if (name.isEmpty()) name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
  QCoreApplication::setApplicationName(name);
  QApplication::setWindowIcon(MakeAppIcon());

  int status = 0;
  {
    QtUpdateWindow window(session);
    SetMainDialog(AttachJournal(window));  // the run's journal, if any, sees every log text
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
