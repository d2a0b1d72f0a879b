// The update window on Qt Widgets: dialog template 102 rebuilt control by
// control, with the behaviour of app/update_dialog.h. Implements mfu::Window
// for every thread of the program (worker calls go through a WindowGate).
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/update_dialog.h"
#include "ui/window.h"
#include "ui/window_gate.h"

class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace mfu {

// The message boxes, replaceable so that tests can answer them without a
// modal loop. The question answers true only for Yes.
using QuestionHook = std::function<bool(QWidget* parent, const QString& caption, const QString& text)>;
using NoticeHook = std::function<void(QWidget* parent, const QString& caption, const QString& text)>;
void SetQuestionHook(QuestionHook hook);  // empty: the real QMessageBox
void SetNoticeHook(NoticeHook hook);

// Dialog base units of a font by the Windows rule: the average width of the
// 52 Latin letters (rounded) and the line height.
struct DialogBaseUnits {
  int width = 0;
  int height = 0;
};

class QtUpdateWindow : public QDialog, public Window, public DialogView {
 public:
  // Builds the controls and runs the dialog initialisation, which posts the
  // start-up message. GUI thread.
  explicit QtUpdateWindow(SessionControl& session, QWidget* parent = nullptr);
  ~QtUpdateWindow() override;

  // mfu::Window, any thread.
  void AppendLog(const char* text) override;
  std::string LogText() override;
  void EnableButton(int id, bool enable) override;
  void SetProgressRange(std::uint16_t upper) override;
  void SetProgressStep(int step) override;
  void StepProgress() override;
  bool AskYesNo(const char* text) override;
  bool AskYesNoDefaultNo(const char* text) override;
  void ShowNotice(const char* text) override;
  bool ChooseFile(FileDialogRequest& request) override;

  // DialogView, GUI thread. The start-up message is held back until the
  // window is shown: setVisible waits until the display shows the window,
  // draws it, and only then posts the message.
  void PostStartupMessage() override;
  void setVisible(bool visible) override;
  void BeginClosing() override;
  void CloseWindow(int result) override;
  // The connection procedure runs on the controller's worker, so that the
  // close box, Esc, "Beenden" and SIGTERM reach it while it waits for the
  // modem. Its end comes back as a queued call (any thread).
  bool ConnectOnWorker() const override { return true; }
  void PostConnectionEnded() override;

  // The dialog font (MS Sans Serif 8 pt, else the nearest sans font) and its
  // base units; dialog units to pixels with them.
  static QFont DialogFont();
  static DialogBaseUnits BaseUnits(const QFont& font);
  QRect DialogUnitsToPixels(int x, int y, int width, int height) const;

  // The controls by id, and the ids in template order (= tab order).
  QWidget* Control(int id) const;
  static const std::vector<int>& TemplateOrder();
  // The text the control shows (a group box's title, a button's label; the
  // progress bar's text, which it never shows).
  QString ControlText(int id) const;

  UpdateDialog& Controller() { return controller_; }
  WindowGate& Gate() { return gate_; }
  int ProgressPosition() const { return progress_pos_; }

  // The caption of every message box: the program file's base name.
  static QString BoxCaption();

 protected:
  // Esc, the close box and Close in the system menu all arrive here.
  void reject() override;
  void accept() override;

 private:
  // The question box; "Nein" the default button (with the focus) when asked.
  bool Ask(const char* text, bool default_no);
  void AddControl(int id, QWidget* widget, const char* dialog_class, int x, int y, int w, int h);
  void AppendOnGuiThread(const char* text);
  // GUI thread: draws the window at once, without event processing.
  void PaintNow();
  // GUI thread, before the connection procedure: waits until the display
  // shows the window (2 s at most), then draws it.
  void WaitUntilOnScreen();
  void ShowProgress();

  UpdateDialog controller_;
  WindowGate gate_;
  DialogBaseUnits units_;
  std::map<int, QWidget*> controls_;
  QPlainTextEdit* LogPane = nullptr;
  QProgressBar* ProgressBar = nullptr;
  // GUI thread only: the pane's text as Windows-1252 bytes, exactly as
  // appended (the display turns "\r\n" into one line break).
  std::string log_;
  bool last_was_cr_ = false;
  // The start-up message waits for the window to be shown.
  bool startup_on_show_ = false;
  // GUI thread only: the progress control's own range, step and position.
  int progress_min_ = 0;
  int progress_max_ = 100;
  int progress_step_ = 10;
  int progress_pos_ = 0;
};

}  // namespace mfu
