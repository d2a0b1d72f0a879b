#include "app/qt/qt_update_window.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QMessageBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QWindow>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "app/qt/qt_file_dialog.h"
#include "app/qt/qt_icon.h"
#include "ui/cp1252.h"

namespace mfu {
namespace {

std::mutex g_hook_lock;
QuestionHook g_question_hook;
NoticeHook g_notice_hook;

QString FromCp1252(const char* text) {
  return QString::fromStdU16String(Cp1252ToUtf16(text != nullptr ? text : ""));
}

// MulDiv of the dialog-unit conversion: rounded to the nearest pixel.
int Scale(int value, int numerator, int denominator) {
  return (value * numerator + denominator / 2) / denominator;
}

}  // namespace

void SetQuestionHook(QuestionHook hook) {
  std::lock_guard<std::mutex> guard(g_hook_lock);
  g_question_hook = std::move(hook);
}

void SetNoticeHook(NoticeHook hook) {
  std::lock_guard<std::mutex> guard(g_hook_lock);
  g_notice_hook = std::move(hook);
}

QFont QtUpdateWindow::DialogFont() {
  QFont font;
  // The template's font first; then fonts of similar shape that Linux
  // systems carry: Liberation Sans 8 pt has MS Sans Serif's average width (6
  // pixels at 96 dpi, so the window is as wide as on Windows) and is one pixel
  // lower; DejaVu Sans is a pixel wider. The style hint covers a system with
  // none of them.
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                    QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                    QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  return font;
}

DialogBaseUnits QtUpdateWindow::BaseUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  DialogBaseUnits units;
  units.width = (letters / 26 + 1) / 2;
  units.height = metrics.height();
  return units;
}

QRect QtUpdateWindow::DialogUnitsToPixels(int x, int y, int width, int height) const {
  return QRect(Scale(x, units_.width, 4), Scale(y, units_.height, 8), Scale(width, units_.width, 4),
               Scale(height, units_.height, 8));
}

const std::vector<int>& QtUpdateWindow::TemplateOrder() {
  static const std::vector<int> order = {kIdBeenden, kIdProgressBar, kIdStartUpdate, kIdHelp,
                                         kIdStatusGroup, kIdLogPane, kIdLogGroup, kIdSaveLog};
  return order;
}

QString QtUpdateWindow::BoxCaption() { return QCoreApplication::applicationName(); }

QtUpdateWindow::QtUpdateWindow(SessionControl& session, QWidget* parent)
    : QDialog(parent),
      controller_(*this, *this, session),
      gate_([this] {
        QMetaObject::invokeMethod(this, [this] { gate_.Drain(); }, Qt::QueuedConnection);
      }) {
  // A fixed-size dialog with a caption, a system menu and the close box; no
  // minimise or maximise box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QStringLiteral("Modem Flash Update"));
  setWindowIcon(MakeAppIcon());
  setFont(DialogFont());
  units_ = BaseUnits(font());
  setSizeGripEnabled(false);

  // Controls in template order, which is also the tab order.
  auto* beenden = new QPushButton(FromCp1252("Beenden"), this);
  beenden->setDefault(true);
  AddControl(kIdBeenden, beenden, "button", 75, 258, 60, 14);

  ProgressBar = new QProgressBar(this);
  ProgressBar->setTextVisible(false);
  ProgressBar->setFormat(FromCp1252("Generic1"));  // the control's text, never shown
  AddControl(kIdProgressBar, ProgressBar, "msctls_progress32", 18, 212, 160, 14);

  auto* start = new QPushButton(FromCp1252("Update Starten"), this);
  AddControl(kIdStartUpdate, start, "button", 28, 232, 60, 14);
  auto* help = new QPushButton(FromCp1252("Hilfe"), this);
  AddControl(kIdHelp, help, "button", 112, 232, 60, 14);
  auto* status_group = new QGroupBox(FromCp1252("Ablauf-Zustand..."), this);
  AddControl(kIdStatusGroup, status_group, "button", 12, 198, 170, 52);

  LogPane = new QPlainTextEdit(this);
  LogPane->setReadOnly(true);
  LogPane->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  LogPane->setFocusPolicy(Qt::StrongFocus);
  LogPane->setTabChangesFocus(true);
  LogPane->setUndoRedoEnabled(false);  // appends cannot be undone
  LogPane->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  LogPane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  LogPane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  AddControl(kIdLogPane, LogPane, "edit", 20, 12, 160, 156);

  auto* log_group = new QGroupBox(FromCp1252("Update Log"), this);
  AddControl(kIdLogGroup, log_group, "button", 12, 2, 170, 188);
  auto* save = new QPushButton(FromCp1252("Log Speichern"), this);
  AddControl(kIdSaveLog, save, "button", 70, 172, 60, 14);

  // The group boxes only frame the others: keep them beneath, so that they
  // never take a click meant for a control they frame.
  status_group->lower();
  log_group->lower();

  setTabOrder(beenden, start);
  setTabOrder(start, help);
  setTabOrder(help, LogPane);
  setTabOrder(LogPane, save);

  const QRect client = DialogUnitsToPixels(0, 0, 200, 280);
  setFixedSize(client.size());
  move(0, 0);

  connect(beenden, &QPushButton::clicked, this, [this] { controller_.OnOK(); });
  connect(start, &QPushButton::clicked, this, [this] { controller_.OnStartUpdate(); });
  connect(help, &QPushButton::clicked, this, [this] { controller_.OnHelpButton(); });
  connect(save, &QPushButton::clicked, this, [this] { controller_.OnSaveLog(); });

  ShowProgress();
  controller_.OnInitDialog();
  // The first tab stop has the focus, as after a dialog initialisation that
  // returns true.
  beenden->setFocus(Qt::OtherFocusReason);
}

QtUpdateWindow::~QtUpdateWindow() {
  // No worker may wait on, or post to, a window that is going away. A
  // procedure still running (the window went without a close) is cut short
  // and joined while the window and its gate still exist.
  gate_.Close();
  controller_.EndConnectionProcedure();
}

void QtUpdateWindow::AddControl(int id, QWidget* widget, const char* dialog_class, int x, int y, int w,
                                int h) {
  widget->setObjectName(QString::number(id));
  widget->setProperty("controlId", id);
  widget->setProperty("dialogClass", QString::fromLatin1(dialog_class));
  widget->setGeometry(DialogUnitsToPixels(x, y, w, h));
  controls_[id] = widget;
}

QWidget* QtUpdateWindow::Control(int id) const {
  auto it = controls_.find(id);
  return it != controls_.end() ? it->second : nullptr;
}

QString QtUpdateWindow::ControlText(int id) const {
  QWidget* widget = Control(id);
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
  if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) return edit->toPlainText();
  if (auto* bar = qobject_cast<QProgressBar*>(widget)) return bar->format();
  return QString();
}

// --- mfu::Window -----------------------------------------------------------

void QtUpdateWindow::AppendLog(const char* text) {
  if (text == nullptr) return;
  gate_.Run([&] { AppendOnGuiThread(text); });
  // A call on the GUI thread comes from a handler that holds the thread (the
  // connection procedure, where no thread could be had for it): no event loop
  // would show the line before it returns. Painted here, without letting any
  // event through, so no input and no queued call can run inside the handler.
  if (gate_.OnWindowThread()) PaintNow();
}

void QtUpdateWindow::PaintNow() {
  if (isVisible()) repaint();
}

void QtUpdateWindow::WaitUntilOnScreen() {
  if (!isVisible()) return;
  // The display maps the window a moment after show(); until it reports the
  // window exposed nothing can be drawn. Its events are let through meanwhile,
  // the user's input and the signal pipe are not. A display that never
  // exposes the window (a minimised start) holds the procedure up no longer
  // than this.
  constexpr int kLongestWaitMs = 2000;
  QElapsedTimer waited;
  waited.start();
  while ((windowHandle() == nullptr || !windowHandle()->isExposed()) && waited.elapsed() < kLongestWaitMs) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  PaintNow();
}

void QtUpdateWindow::AppendOnGuiThread(const char* text) {
  const std::size_t length = std::strlen(text);
  log_.append(text, length);
  // The display's line break is one "\n". "\r\n" makes one break, and so
  // does the modem's echo "\r\r\n" (a run of "\r" counts once), even when
  // the answer arrives split over two appends; a lone "\n" makes one break.
  std::u16string shown;
  shown.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    const auto byte = static_cast<std::uint8_t>(text[i]);
    if (byte == '\r') {
      if (!last_was_cr_) shown += u'\n';
      last_was_cr_ = true;
      continue;
    }
    if (byte != '\n' || !last_was_cr_) shown += static_cast<char16_t>(Cp1252ToCodePoint(byte));
    last_was_cr_ = false;
  }
  // Caret to the end, whatever the user selected; insert there; keep the
  // end in view.
  QTextCursor cursor = LogPane->textCursor();
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(QString::fromStdU16String(shown));
  LogPane->setTextCursor(cursor);
  LogPane->ensureCursorVisible();
}

std::string QtUpdateWindow::LogText() {
  std::string text;
  gate_.Run([&] { text = log_; });
  return text;
}

void QtUpdateWindow::EnableButton(int id, bool enable) {
  if (id != kIdStartUpdate && id != kIdHelp && id != kIdSaveLog && id != kIdBeenden) return;
  gate_.Run([&] {
    if (QWidget* button = Control(id)) button->setEnabled(enable);
  });
}

void QtUpdateWindow::SetProgressRange(std::uint16_t upper) {
  gate_.Run([&] {
    progress_min_ = 0;
    progress_max_ = upper;
    // The control keeps its position inside the new range.
    if (progress_pos_ > progress_max_) progress_pos_ = progress_max_;
    if (progress_pos_ < progress_min_) progress_pos_ = progress_min_;
    ShowProgress();
  });
}

void QtUpdateWindow::SetProgressStep(int step) {
  gate_.Run([&] { progress_step_ = step; });
}

void QtUpdateWindow::StepProgress() {
  gate_.Run([&] {
    const int span = progress_max_ - progress_min_;
    int pos = progress_pos_ + progress_step_;
    // Past the end the control starts over from the beginning.
    if (pos > progress_max_) pos = span > 0 ? progress_min_ + (pos - progress_min_) % span : progress_min_;
    if (pos < progress_min_) pos = span > 0 ? progress_max_ - (progress_min_ - pos) % span : progress_min_;
    progress_pos_ = pos;
    ShowProgress();
  });
}

void QtUpdateWindow::ShowProgress() {
  // An empty range would make QProgressBar show its busy animation.
  ProgressBar->setRange(progress_min_, progress_max_ > progress_min_ ? progress_max_ : progress_min_ + 1);
  ProgressBar->setValue(progress_pos_);
}

bool QtUpdateWindow::AskYesNo(const char* text) { return Ask(text, false); }

bool QtUpdateWindow::AskYesNoDefaultNo(const char* text) { return Ask(text, true); }

bool QtUpdateWindow::Ask(const char* text, bool default_no) {
  bool yes = false;
  gate_.Run([&] {
    const QString caption = BoxCaption();
    const QString question = FromCp1252(text);
    QuestionHook hook;
    {
      std::lock_guard<std::mutex> guard(g_hook_lock);
      hook = g_question_hook;
    }
    if (hook) {
      yes = hook(this, caption, question);
      return;
    }
    QMessageBox box(QMessageBox::Question, caption, question, QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Ja"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&Nein"));
    // With "Nein" the default (and the focus), a reflex Enter or Space keeps
    // what runs (the flash) going, as an empty answer does in the console.
    box.setDefaultButton(default_no ? QMessageBox::No : QMessageBox::Yes);
    yes = box.exec() == QMessageBox::Yes;
  });
  return yes;
}

void QtUpdateWindow::ShowNotice(const char* text) {
  gate_.Run([&] {
    const QString caption = BoxCaption();
    const QString notice = FromCp1252(text);
    NoticeHook hook;
    {
      std::lock_guard<std::mutex> guard(g_hook_lock);
      hook = g_notice_hook;
    }
    if (hook) {
      hook(this, caption, notice);
      return;
    }
    QMessageBox box(QMessageBox::NoIcon, caption, notice, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
  });
}

bool QtUpdateWindow::ChooseFile(FileDialogRequest& request) {
  bool chosen = false;
  gate_.Run([&] { chosen = RunQtFileDialog(this, request); });
  return chosen;
}

// --- DialogView ------------------------------------------------------------

void QtUpdateWindow::PostStartupMessage() {
  // The window must be on screen and drawn before the procedure's first line
  // (and before it holds the GUI thread, should it have to run there). So the
  // message goes out once the window is shown (setVisible); nothing can have
  // been queued before it by then.
  if (!isVisible()) {
    startup_on_show_ = true;
    return;
  }
  QMetaObject::invokeMethod(this, [this] { controller_.OnStartupMessage(); }, Qt::QueuedConnection);
}

void QtUpdateWindow::setVisible(bool visible) {
  QDialog::setVisible(visible);
  if (!visible || !startup_on_show_) return;
  startup_on_show_ = false;
  WaitUntilOnScreen();
  PostStartupMessage();
}

void QtUpdateWindow::BeginClosing() { gate_.Close(); }

void QtUpdateWindow::PostConnectionEnded() {
  // Posted, not run: the worker must not touch the controller. The window
  // outlives the worker (its destructor joins it), so `this` is alive here.
  QMetaObject::invokeMethod(this, [this] { controller_.OnConnectionEnded(); }, Qt::QueuedConnection);
}

void QtUpdateWindow::CloseWindow(int result) { QDialog::done(result); }

void QtUpdateWindow::reject() { controller_.OnCancel(); }

void QtUpdateWindow::accept() { controller_.OnOK(); }

}  // namespace mfu
