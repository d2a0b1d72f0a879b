#include "app/qt/qt_app.h"

#include <QApplication>
#include <QFileInfo>

#include "app/qt/qt_icon.h"
#include "app/qt/qt_signals.h"
#include "app/qt/qt_update_window.h"
#include "ui/window.h"

namespace mfu {

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
    // The modal run; its result is not looked at. The session's threads have
    // ended when it returns (the window closes only after the stop).
    window.exec();
    SetMainDialog(nullptr);
    status = window.Controller().ExitStatus();
  }
  return status;
}

}  // namespace mfu
