// Renders the update window offscreen with the log lines of a connection
// procedure that found the modem (written here, no session runs), and saves
// it as a PNG: a quick look at the layout and the dialog font. The pictures
// in docs/ show the real program instead (capture-window.sh).
// Usage: mfu-screenshot [OUTPUT.png]   (default window-offscreen.png)
#include <QApplication>
#include <QFontInfo>
#include <QPixmap>
#include <cstdio>

#include "app/qt/qt_update_window.h"
#include "resources/text_ids.h"
#include "ui/log.h"
#include "ui/window.h"

namespace {

class FoundModemSession : public mfu::SessionControl {
 public:
  void SetupCommPort() override {
    mfu::AppendLogString(mfu::kTextToolStarts);
    mfu::AppendLogString(mfu::kTextSearching);
    mfu::AppendLogFormatted(mfu::kTextModemFound, "COM1");
    mfu::AppendLogString(mfu::kTextCheckingModem);
    mfu::AppendLog("a\r\r\nOK\r\n");
    mfu::AppendLogString(mfu::kTextPressStart);
    if (mfu::Window* window = mfu::MainDialog()) window->EnableButton(mfu::kIdStartUpdate, true);
  }
  bool MonitorExists() override { return true; }
  bool DownloadModeAnswered() override { return true; }
  void InterruptConnection() override {}
  bool SenderThreadHandle() override { return false; }
  bool UpdateSucceeded() override { return false; }
  bool UpdateUnderWay() override { return false; }
  void SignalStartUpdate() override {}
  void CancelUpdate() override {}
  void StopSessionMonitor() override {}
  void WriteExitByte() override {}
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("window-offscreen.png");
  FoundModemSession session;
  mfu::QtUpdateWindow window(session);
  mfu::SetMainDialog(&window);
  window.show();
  QApplication::processEvents();  // the start-up message
  QApplication::processEvents();
  const bool saved = window.grab().save(output, "PNG");
  mfu::SetMainDialog(nullptr);
  // The font the dialog really got, and its dialog base units: the figures
  // that decide the window's size in pixels.
  const QFontInfo font(window.font());
  const mfu::DialogBaseUnits units = mfu::QtUpdateWindow::BaseUnits(window.font());
  std::printf("font %s %d pt, base units %d x %d, window %d x %d\n", font.family().toLocal8Bit().constData(),
              font.pointSize(), units.width, units.height, window.width(), window.height());
  std::printf("%s %s\n", saved ? "wrote" : "could not write", output.toLocal8Bit().constData());
  return saved ? 0 : 1;
}
