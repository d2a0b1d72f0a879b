// The update window on Qt, headless (offscreen platform).
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <QWindow>
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_session.h"
#include "app/qt/qt_app.h"
#include "app/qt/qt_update_window.h"
#include "ui/log.h"
#include "ui/window.h"

namespace mfu {
namespace {

using namespace std::chrono_literals;

void Pump() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

void PumpUntil(const std::function<bool()>& condition) {
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (!condition() && std::chrono::steady_clock::now() < until) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(condition());
}

using test::FakeSession;
using test::PlaceholderSession;

// Until the connection procedure has run on its worker and its end has been
// handled on the GUI thread.
void Settle(QtUpdateWindow& window, FakeSession& session) {
  PumpUntil([&] { return session.setups.load() > 0 && !window.Controller().Connecting(); });
}

struct Box {
  QString caption;
  QString text;
  std::string log_at_that_moment;
};

class QtWindowTest : public ::testing::Test {
 protected:
  QtWindowTest() {
    QCoreApplication::setApplicationName(QStringLiteral("modem-update"));
    SetQuestionHook([this](QWidget*, const QString& caption, const QString& text) {
      questions.push_back({caption, text, MainDialog() ? MainDialog()->LogText() : std::string()});
      return answer;
    });
    SetNoticeHook([this](QWidget*, const QString& caption, const QString& text) {
      notices.push_back({caption, text, MainDialog() ? MainDialog()->LogText() : std::string()});
    });
  }
  ~QtWindowTest() override {
    SetMainDialog(nullptr);
    SetQuestionHook(nullptr);
    SetNoticeHook(nullptr);
  }

  // The window as the program runs it: MainDialog set, shown.
  std::unique_ptr<QtUpdateWindow> Open(SessionControl& s) {
    auto window = std::make_unique<QtUpdateWindow>(s);
    SetMainDialog(window.get());
    window->show();
    return window;
  }

  bool Enabled(QtUpdateWindow& w, int id) { return w.Control(id)->isEnabled(); }
  QPushButton* Button(QtUpdateWindow& w, int id) { return qobject_cast<QPushButton*>(w.Control(id)); }
  QPlainTextEdit* Pane(QtUpdateWindow& w) { return qobject_cast<QPlainTextEdit*>(w.Control(kIdLogPane)); }

  FakeSession session;
  bool answer = false;
  std::vector<Box> questions;
  std::vector<Box> notices;
};

TEST_F(QtWindowTest, InitialButtonStatesAndTheStartupMessageIsPostedNotRun) {
  auto window = Open(session);
  EXPECT_FALSE(Enabled(*window, kIdStartUpdate));
  EXPECT_TRUE(Enabled(*window, kIdHelp));
  EXPECT_TRUE(Enabled(*window, kIdSaveLog));
  EXPECT_TRUE(Enabled(*window, kIdBeenden));
  EXPECT_EQ(session.setups, 0);
  Settle(*window, session);
  EXPECT_EQ(session.setups, 1);
  Pump();
  EXPECT_EQ(session.setups, 1);
  // The first tab stop, "Beenden", holds the dialog's focus (the offscreen
  // platform may not make the window active, so ask the window itself).
  EXPECT_EQ(window->focusWidget(), window->Control(kIdBeenden));
}

TEST_F(QtWindowTest, FirstLogLinesArePresentBeforeAnyClickIsHandled) {
  PlaceholderSession placeholder;
  auto window = Open(placeholder);
  // A click that arrives as early as it can: queued right behind the
  // start-up message.
  QMetaObject::invokeMethod(window->Control(kIdHelp), "click", Qt::QueuedConnection);
  PumpUntil([&] { return !notices.empty(); });
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].log_at_that_moment,
            "Modem-Update Tool startet.\r\n\r\nSuchen nach einem KELVORA-Modem ...\r\n\r\n"
            "Es wurde kein KELVORA-Modem gefunden.\r\n");
  // No modem: "Update Starten" stays off, the others stay on.
  EXPECT_FALSE(Enabled(*window, kIdStartUpdate));
  EXPECT_TRUE(Enabled(*window, kIdHelp));
  EXPECT_TRUE(Enabled(*window, kIdSaveLog));
  EXPECT_TRUE(Enabled(*window, kIdBeenden));
}

// Counts the paint events of one widget.
class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// The window is on screen before the procedure begins, and the GUI thread
// stays free while the procedure waits for the modem: a line it appends is
// drawn while it still runs.
TEST_F(QtWindowTest, DrawnBeforeTheProcedureAndEachLineShownWhileItStillRuns) {
  QtUpdateWindow* raw = nullptr;
  PaintCounter pane_paints;
  bool exposed = false;
  int paints_at_line = -1;
  std::atomic<bool> release{false};
  session.on_interrupt = [&] { release = true; };  // a failed run still ends
  session.on_setup = [&] {
    // The checks run on the GUI thread, queued behind the line.
    raw->Gate().Run([&] { exposed = raw->windowHandle() != nullptr && raw->windowHandle()->isExposed(); });
    AppendLog("erste Zeile\r\n");
    raw->Gate().Run([&] { paints_at_line = pane_paints.paints; });
    while (!release) std::this_thread::sleep_for(1ms);
  };
  auto window = Open(session);
  raw = window.get();
  Pane(*window)->viewport()->installEventFilter(&pane_paints);
  PumpUntil([&] { return paints_at_line >= 0 && pane_paints.paints > paints_at_line; });
  EXPECT_TRUE(exposed);
  EXPECT_TRUE(window->Controller().Connecting());
  EXPECT_EQ(Pane(*window)->toPlainText(), QStringLiteral("erste Zeile\n"));
  release = true;
  Settle(*window, session);
  EXPECT_EQ(session.interrupts, 0);
}

// "Beenden", Esc and the close box while a silent modem is searched for: the
// procedure is cut short, a click on "Hilfe" meanwhile is dropped, and the
// window closes once the procedure has returned; no update was started.
TEST_F(QtWindowTest, CloseRequestsDuringTheProcedureCutItShortAndClose) {
  for (const char* way : {"Beenden", "Esc", "close box"}) {
    SCOPED_TRACE(way);
    FakeSession silent;
    silent.monitor = true;  // the pause was cut short: the modem is in no mode yet, "c" as after Ctrl-C
    std::atomic<bool> cut{false};
    silent.on_interrupt = [&] { cut = true; };
    silent.on_setup = [&] {
      while (!cut) std::this_thread::sleep_for(1ms);
    };
    auto window = Open(silent);
    PumpUntil([&] { return silent.setups.load() > 0; });
    Button(*window, kIdHelp)->click();
    EXPECT_TRUE(notices.empty());
    if (std::string(way) == "Beenden") {
      Button(*window, kIdBeenden)->click();
    } else if (std::string(way) == "Esc") {
      QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QCoreApplication::sendEvent(window.get(), &escape);
    } else {
      window->close();
    }
    PumpUntil([&] { return !window->isVisible(); });
    EXPECT_EQ(silent.interrupts, 1);
    EXPECT_EQ(silent.stops, 1);
    EXPECT_EQ(silent.exit_bytes, std::string(way) == "Beenden" ? 1 : 0);
    EXPECT_EQ(window->result(), std::string(way) == "Beenden" ? kDialogOk : kDialogCancel);
    EXPECT_EQ(window->Controller().ExitStatus(), 3);
    EXPECT_TRUE(notices.empty());
    EXPECT_TRUE(questions.empty());
  }
}

TEST_F(QtWindowTest, NoToTheStartQuestionChangesNothingAndStartsNothing) {
  session.on_setup = [] { MainDialog()->EnableButton(kIdStartUpdate, true); };
  auto window = Open(session);
  Settle(*window, session);
  ASSERT_TRUE(Enabled(*window, kIdStartUpdate));
  answer = false;
  Button(*window, kIdStartUpdate)->click();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].caption, QStringLiteral("modem-update"));
  EXPECT_EQ(questions[0].text,
            QStringLiteral("Sind Sie sicher, die Firmware des Modems durch eine neue Firmware zu ersetzen ?"));
  for (int id : {kIdStartUpdate, kIdHelp, kIdSaveLog, kIdBeenden}) EXPECT_TRUE(Enabled(*window, id)) << id;
  EXPECT_EQ(session.starts, 0);
}

TEST_F(QtWindowTest, YesDisablesAllFourAndSignalsTheStart) {
  session.on_setup = [] { MainDialog()->EnableButton(kIdStartUpdate, true); };
  auto window = Open(session);
  Settle(*window, session);
  answer = true;
  Button(*window, kIdStartUpdate)->click();
  for (int id : {kIdStartUpdate, kIdHelp, kIdSaveLog, kIdBeenden}) EXPECT_FALSE(Enabled(*window, id)) << id;
  EXPECT_EQ(session.starts, 1);
  EXPECT_TRUE(window->isVisible());
}

TEST_F(QtWindowTest, HelpIsOneNoticeOf454Characters) {
  auto window = Open(session);
  Settle(*window, session);
  Button(*window, kIdHelp)->click();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].caption, QStringLiteral("modem-update"));
  EXPECT_EQ(notices[0].text.size(), 454);
  EXPECT_EQ(notices[0].text.split(QStringLiteral("\n\n")).size(), 4);
  EXPECT_TRUE(questions.empty());
}

TEST_F(QtWindowTest, AppendLandsAtTheEndAndGivesUpTheUsersSelection) {
  auto window = Open(session);
  Settle(*window, session);
  window->AppendLog("erste Zeile\r\nzweite Zeile\r\n");
  QPlainTextEdit* pane = Pane(*window);
  QTextCursor select = pane->textCursor();
  select.setPosition(2);
  select.setPosition(8, QTextCursor::KeepAnchor);
  pane->setTextCursor(select);
  ASSERT_TRUE(pane->textCursor().hasSelection());

  window->AppendLog("dritte\r\n");
  EXPECT_EQ(pane->toPlainText(), QStringLiteral("erste Zeile\nzweite Zeile\ndritte\n"));
  EXPECT_FALSE(pane->textCursor().hasSelection());
  EXPECT_EQ(pane->textCursor().position(), pane->document()->characterCount() - 1);
  EXPECT_EQ(window->LogText(), "erste Zeile\r\nzweite Zeile\r\ndritte\r\n");

  window->AppendLog("");
  EXPECT_EQ(window->LogText(), "erste Zeile\r\nzweite Zeile\r\ndritte\r\n");
}

TEST_F(QtWindowTest, EndStaysInView) {
  auto window = Open(session);
  Settle(*window, session);
  for (int i = 0; i < 200; ++i) window->AppendLog("eine Zeile des Protokolls\r\n");
  Pump();
  QPlainTextEdit* pane = Pane(*window);
  QScrollBar* bar = pane->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_GT(bar->value(), 0);
  // The caret, at the very end, lies inside the visible part of the pane.
  EXPECT_TRUE(pane->viewport()->rect().contains(pane->cursorRect())) ;
  EXPECT_EQ(pane->textCursor().position(), pane->document()->characterCount() - 1);
}

TEST_F(QtWindowTest, UmlautsReachThePaneAndComeBackAsWindows1252) {
  auto window = Open(session);
  Settle(*window, session);
  const std::string bytes = "\r\nUpdate l\xE4uft ...\r\ngepr\xFC" "ft, k\xF6nnen \x80 \x84\x93 \x9F\r\n";
  window->AppendLog(bytes.c_str());
  EXPECT_EQ(Pane(*window)->toPlainText(), QStringLiteral("\nUpdate läuft ...\ngeprüft, können € „“ Ÿ\n"));
  EXPECT_EQ(window->LogText(), bytes);
}

TEST_F(QtWindowTest, ModemAnswerSplitBetweenCrAndLfMakesOneLineBreak) {
  auto window = Open(session);
  Settle(*window, session);
  window->AppendLog("OK\r");
  window->AppendLog("\nNEXT\n\rEND");
  EXPECT_EQ(Pane(*window)->toPlainText(), QStringLiteral("OK\nNEXT\n\nEND"));
  EXPECT_EQ(window->LogText(), "OK\r\nNEXT\n\rEND");
  // The echo of a command ends in "\r\r\n": one break, also when split.
  window->AppendLog("\r\na\r\r\nOK\r");
  window->AppendLog("\r\nX");
  EXPECT_EQ(Pane(*window)->toPlainText(), QStringLiteral("OK\nNEXT\n\nEND\na\nOK\nX"));
  EXPECT_EQ(window->LogText(), "OK\r\nNEXT\n\rEND\r\na\r\r\nOK\r\r\nX");
}

TEST_F(QtWindowTest, TheEightControlsOfTheTemplate) {
  auto window = Open(session);
  struct Expected {
    int id;
    const char* dialog_class;
    const char* text;
    const char* qt_class;
    int x, y, w, h;
  };
  const Expected expected[] = {
      {1, "button", "Beenden", "QPushButton", 75, 258, 60, 14},
      {1011, "msctls_progress32", "Generic1", "QProgressBar", 18, 212, 160, 14},
      {1006, "button", "Update Starten", "QPushButton", 28, 232, 60, 14},
      {1007, "button", "Hilfe", "QPushButton", 112, 232, 60, 14},
      {1008, "button", "Ablauf-Zustand...", "QGroupBox", 12, 198, 170, 52},
      {1009, "edit", "", "QPlainTextEdit", 20, 12, 160, 156},
      {1010, "button", "Update Log", "QGroupBox", 12, 2, 170, 188},
      {1012, "button", "Log Speichern", "QPushButton", 70, 172, 60, 14},
  };
  // Stacking: the two group boxes lie beneath everything (so that they never
  // take a click meant for a control they frame), the others follow in
  // template order.
  std::vector<int> created;
  for (QObject* child : window->children()) {
    if (child->property("controlId").isValid()) created.push_back(child->property("controlId").toInt());
  }
  std::vector<int> ids;
  for (const Expected& e : expected) ids.push_back(e.id);
  EXPECT_EQ(created, (std::vector<int>{1010, 1008, 1, 1011, 1006, 1007, 1009, 1012}));
  EXPECT_EQ(QtUpdateWindow::TemplateOrder(), ids);

  for (const Expected& e : expected) {
    QWidget* control = window->Control(e.id);
    ASSERT_NE(control, nullptr) << e.id;
    EXPECT_EQ(control->objectName(), QString::number(e.id));
    EXPECT_EQ(control->property("dialogClass").toString(), QString::fromLatin1(e.dialog_class)) << e.id;
    EXPECT_STREQ(control->metaObject()->className(), e.qt_class) << e.id;
    EXPECT_EQ(window->ControlText(e.id), QString::fromLatin1(e.text)) << e.id;
    EXPECT_EQ(control->geometry(), window->DialogUnitsToPixels(e.x, e.y, e.w, e.h)) << e.id;
    EXPECT_EQ(control->parentWidget(), window.get()) << e.id;
  }
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Modem Flash Update"));
  EXPECT_TRUE(Button(*window, kIdBeenden)->isDefault());

  // Tab order: the tab stops in template order, round.
  std::vector<QWidget*> tab_stops = {window->Control(1), window->Control(1006), window->Control(1007),
                                     window->Control(1009), window->Control(1012)};
  for (std::size_t i = 0; i + 1 < tab_stops.size(); ++i) {
    QWidget* next = tab_stops[i]->nextInFocusChain();
    while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
    EXPECT_EQ(next, tab_stops[i + 1]) << i;
  }
  EXPECT_EQ(window->Control(1011)->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(window->Control(1008)->focusPolicy(), Qt::NoFocus);

  auto* bar = qobject_cast<QProgressBar*>(window->Control(kIdProgressBar));
  EXPECT_FALSE(bar->isTextVisible());
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->value(), 0);
  QPlainTextEdit* pane = Pane(*window);
  EXPECT_TRUE(pane->isReadOnly());
  EXPECT_EQ(pane->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

  // Fixed size of 200 x 280 dialog units; no minimise or maximise box.
  EXPECT_EQ(window->size(), window->DialogUnitsToPixels(0, 0, 200, 280).size());
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);
}

TEST_F(QtWindowTest, DialogUnitsFollowTheWindowsRule) {
  const DialogBaseUnits units = QtUpdateWindow::BaseUnits(QtUpdateWindow::DialogFont());
  EXPECT_GE(units.width, 4);
  EXPECT_GE(units.height, 8);
  auto window = Open(session);
  EXPECT_EQ(window->DialogUnitsToPixels(4, 8, 4, 8), QRect(units.width, units.height, units.width, units.height));
  EXPECT_EQ(window->DialogUnitsToPixels(200, 0, 0, 280).x(), (200 * units.width + 2) / 4);
  EXPECT_EQ(window->DialogUnitsToPixels(0, 280, 0, 0).y(), (280 * units.height + 4) / 8);
}

TEST_F(QtWindowTest, ProgressRangeStepAndStartingOver) {
  auto window = Open(session);
  auto* bar = qobject_cast<QProgressBar*>(window->Control(kIdProgressBar));
  for (int i = 0; i < 10; ++i) window->StepProgress();  // default step 10
  EXPECT_EQ(window->ProgressPosition(), 100);
  window->StepProgress();
  EXPECT_EQ(window->ProgressPosition(), 10);  // past the end it starts over
  window->SetProgressRange(728);
  window->SetProgressStep(1);
  window->StepProgress();
  EXPECT_EQ(bar->maximum(), 728);
  EXPECT_EQ(bar->value(), 11);
  window->SetProgressRange(5);
  EXPECT_EQ(window->ProgressPosition(), 5);
  window->SetProgressRange(0);
  EXPECT_EQ(bar->value(), 0);
  EXPECT_GT(bar->maximum(), bar->minimum());  // never the busy animation
}

TEST_F(QtWindowTest, BeendenInDownloadModeWritesCStopsAndCloses) {
  session.monitor = true;
  auto window = Open(session);
  Settle(*window, session);
  Button(*window, kIdBeenden)->click();
  EXPECT_EQ(session.exit_bytes, 1);
  EXPECT_EQ(session.stops, 1);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->result(), kDialogOk);
  EXPECT_TRUE(questions.empty());
}

TEST_F(QtWindowTest, BeendenAfterTheSenderStartedWritesNothing) {
  session.monitor = true;
  session.sender = true;
  auto window = Open(session);
  Settle(*window, session);
  Button(*window, kIdBeenden)->click();
  EXPECT_EQ(session.exit_bytes, 0);
  EXPECT_EQ(session.stops, 1);
  EXPECT_TRUE(questions.empty());
}

TEST_F(QtWindowTest, EscBeforeAnUpdateClosesWithoutQuestionOrC) {
  session.monitor = true;
  auto window = Open(session);
  Settle(*window, session);
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(window.get(), &escape);
  EXPECT_TRUE(questions.empty());
  EXPECT_EQ(session.exit_bytes, 0);
  EXPECT_EQ(session.stops, 1);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->result(), kDialogCancel);
}

TEST_F(QtWindowTest, CloseBoxDuringTheUpdateAsksAndNoKeepsItOpen) {
  session.monitor = true;
  session.sender = true;
  session.under_way = true;
  auto window = Open(session);
  Settle(*window, session);
  answer = false;
  window->close();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].text, QStringLiteral("Update läuft bereit, wollen Sie es abbrechen ?"));
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(session.stops, 0);

  answer = true;
  window->close();
  EXPECT_EQ(questions.size(), 2u);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(session.stops, 1);
  EXPECT_EQ(session.exit_bytes, 0);
}

// The real question box: Enter or Space on it keeps the flash going.
TEST_F(QtWindowTest, EnterOrSpaceOnTheCancelQuestionKeepsTheUpdateGoing) {
  session.monitor = true;
  session.sender = true;
  session.under_way = true;
  auto window = Open(session);
  Settle(*window, session);
  SetQuestionHook(nullptr);
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
    SCOPED_TRACE(key);
    bool pressed = false;
    // Delivered once the box runs its own loop (the timer fires inside exec).
    QTimer::singleShot(0, [&] {
      QWidget* box = QApplication::activeModalWidget();
      ASSERT_NE(box, nullptr);
      QWidget* focus = box->focusWidget() != nullptr ? box->focusWidget() : box;
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
      QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
      QApplication::sendEvent(focus, &press);
      QApplication::sendEvent(focus, &release);
      pressed = true;
    });
    window->close();
    EXPECT_TRUE(pressed);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(session.stops, 0);
  }
}

TEST_F(QtWindowTest, CloseBoxWhileNoUpdateIsUnderWayDoesNotAsk) {
  session.sender = true;
  session.under_way = false;  // the session says no update is under way
  auto window = Open(session);
  Settle(*window, session);
  window->close();
  EXPECT_TRUE(questions.empty());
  EXPECT_FALSE(window->isVisible());
}

// The procedure, on its worker, waits for another worker's window calls (as
// for the monitor's): the GUI thread serves both, each in its order.
TEST_F(QtWindowTest, WorkerCallsRunOnTheGuiThreadInOrderWhileTheProcedureWaits) {
  std::thread worker;
  std::atomic<bool> worker_done{false};
  session.on_setup = [&] {
    worker = std::thread([&] {
      for (const char* text : {"A", "B", "C"}) MainDialog()->AppendLog(text);
      MainDialog()->EnableButton(kIdStartUpdate, true);
      worker_done = true;
    });
    worker.join();
    AppendLog("S");
  };
  auto window = Open(session);
  Settle(*window, session);
  EXPECT_TRUE(worker_done.load());
  EXPECT_EQ(window->LogText(), "ABCS");
  EXPECT_TRUE(Enabled(*window, kIdStartUpdate));
}

TEST_F(QtWindowTest, WorkerBlockedInAWindowCallIsReleasedWhenTheWindowCloses) {
  std::thread worker;
  std::atomic<int> released{0};
  std::atomic<bool> asked_yes{true};
  auto window = Open(session);
  Settle(*window, session);
  worker = std::thread([&] {
    asked_yes = MainDialog()->AskYesNo("Frage");  // queued: the GUI thread is not looking
    ++released;
    MainDialog()->AppendLog("nach dem Schliessen");
    ++released;
  });
  // The stop procedure joins the worker that is still inside the call.
  session.on_stop = [&] { worker.join(); };
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (window->Gate().Pending() == 0 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(window->Gate().Pending(), 1u);
  window->Controller().OnOK();  // no event processing in between
  EXPECT_EQ(released.load(), 2);
  EXPECT_FALSE(asked_yes.load());
  EXPECT_TRUE(questions.empty());  // the question never ran
  EXPECT_EQ(window->LogText().find("nach dem Schliessen"), std::string::npos);
  EXPECT_EQ(session.stops, 1);
  Pump();  // the stale wake-up finds nothing to run
  EXPECT_TRUE(questions.empty());
}

// Qt's own dialogs speak German beside the window, whatever the locale: the
// standard buttons of a message box (the log file's create question) and the
// file dialog's labels and buttons, and the default locale its file list uses.
TEST(QtGermanTexts, MessageBoxAndFileDialogAreGerman) {
  ASSERT_TRUE(InstallGermanQtTexts()) << "qt6-translations-l10n not installed";
  EXPECT_EQ(QLocale().language(), QLocale::German);  // file type names, sizes
  QMessageBox box(QMessageBox::Question, QStringLiteral("c"), QStringLiteral("t"),
                  QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(box.button(QMessageBox::Yes)->text(), QStringLiteral("&Ja"));
  EXPECT_EQ(box.button(QMessageBox::No)->text(), QStringLiteral("&Nein"));

  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  QStringList texts;
  for (const QAbstractButton* button : dialog.findChildren<QPushButton*>()) texts << button->text();
  for (const QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
  for (const char* german : {"&Öffnen", "Abbrechen", "Suchen in:", "Datei&name:", "Dateien des Typs:"}) {
    EXPECT_TRUE(texts.contains(QString::fromUtf8(german)))
        << german << " not in " << texts.join(QStringLiteral(" | ")).toStdString();
  }
}

}  // namespace
}  // namespace mfu

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
