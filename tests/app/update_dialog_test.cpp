#include "app/update_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/exit_status.h"
#include "tests/support/fake_session.h"
#include "tests/support/recording_window.h"
#include "ui/window.h"

namespace mfu {
namespace {

using Steps = std::vector<std::pair<int, bool>>;

// The session calls and the view calls go to one journal, so that the order
// across both is checked.
using Journal = std::vector<std::string>;
using test::FakeSession;
using test::PlaceholderSession;

class FakeView : public DialogView {
 public:
  explicit FakeView(Journal& journal) : journal_(journal) {}
  void PostStartupMessage() override { journal_.push_back("post"); }
  void BeginClosing() override { journal_.push_back("closing"); }
  void CloseWindow(int result) override { journal_.push_back("close " + std::to_string(result)); }

 private:
  Journal& journal_;
};

class UpdateDialogTest : public ::testing::Test {
 protected:
  UpdateDialogTest() { SetMainDialog(&window); }
  ~UpdateDialogTest() override { SetMainDialog(nullptr); }

  Journal journal;
  test::RecordingWindow window;
  FakeSession session{journal};
  FakeView view{journal};
  UpdateDialog dialog{window, view, session};
};

TEST_F(UpdateDialogTest, InitSetsTheButtonsInOrderThenPostsTheStartupMessage) {
  dialog.OnInitDialog();
  EXPECT_EQ(window.ButtonHistory(), (Steps{{1006, false}, {1007, true}, {1012, true}, {1, true}}));
  EXPECT_EQ(journal, (std::vector<std::string>{"post"}));  // posted, not run
  dialog.OnStartupMessage();
  EXPECT_EQ(journal, (std::vector<std::string>{"post", "setup"}));
}

TEST_F(UpdateDialogTest, ConnectionProcedureRunsOnceOnly) {
  dialog.OnStartupMessage();
  dialog.OnStartupMessage();
  EXPECT_EQ(journal, (std::vector<std::string>{"setup"}));
}

TEST_F(UpdateDialogTest, NoToTheStartQuestionChangesNothing) {
  window.SetAnswer(false);
  dialog.OnStartUpdate();
  EXPECT_EQ(window.Questions(),
            (std::vector<std::string>{"Sind Sie sicher, die Firmware des Modems durch eine neue Firmware zu ersetzen ?"}));
  EXPECT_EQ(window.QuestionsDefaultNo(), std::vector<bool>{false});
  EXPECT_TRUE(window.ButtonHistory().empty());
  EXPECT_TRUE(journal.empty());
}

TEST_F(UpdateDialogTest, YesDisablesTheFourButtonsInOrderThenSignalsTheStart) {
  window.SetAnswer(true);
  dialog.OnStartUpdate();
  EXPECT_EQ(window.ButtonHistory(), (Steps{{1006, false}, {1007, false}, {1012, false}, {1, false}}));
  EXPECT_EQ(journal, (std::vector<std::string>{"start"}));
}

TEST_F(UpdateDialogTest, HelpIsOneNoticeOfFourParagraphs) {
  dialog.OnHelpButton();
  const auto notices = window.Notices();
  ASSERT_EQ(notices.size(), 1u);
  const std::string& help = notices[0];
  EXPECT_EQ(help.size(), 454u);
  EXPECT_EQ(help.rfind("Mit Hilfe dieses Tools", 0), 0u);
  std::size_t paragraphs = 1;
  for (std::size_t at = help.find("\n\n"); at != std::string::npos; at = help.find("\n\n", at + 2)) ++paragraphs;
  EXPECT_EQ(paragraphs, 4u);
  EXPECT_EQ(help.find("\n\n\n"), std::string::npos);
  EXPECT_TRUE(window.ButtonHistory().empty());
  EXPECT_TRUE(journal.empty());
}

TEST_F(UpdateDialogTest, BeendenInDownloadModeWritesCThenStopsThenCloses) {
  session.monitor = true;
  dialog.OnOK();
  EXPECT_EQ(journal, (std::vector<std::string>{"write c", "closing", "stop", "close 1"}));
  EXPECT_TRUE(window.Questions().empty());
  EXPECT_TRUE(dialog.Closing());
}

TEST_F(UpdateDialogTest, BeendenWithoutMonitorOrWithSenderWritesNothingAndNeverAsks) {
  dialog.OnOK();
  EXPECT_EQ(journal, (std::vector<std::string>{"closing", "stop", "close 1"}));

  Journal other;
  FakeSession busy{other};
  FakeView other_view{other};
  busy.monitor = true;
  busy.sender = true;
  busy.under_way = true;
  UpdateDialog after_update{window, other_view, busy};
  after_update.OnOK();
  EXPECT_EQ(other, (std::vector<std::string>{"closing", "stop", "close 1"}));
  EXPECT_TRUE(window.Questions().empty());
}

TEST_F(UpdateDialogTest, ARestingSessionClosesAsBeendenWithoutCOrQuestion) {
  session.monitor = true;
  session.sender = true;
    dialog.OnSessionRests();
  dialog.OnSessionRests();
  EXPECT_EQ(journal, (std::vector<std::string>{"closing", "stop", "close 1"}));
  EXPECT_TRUE(window.Questions().empty());
}

// The exit status follows how far the run came: no connection (2), no update
// started (3), then the session's outcome (0 or 1).
TEST_F(UpdateDialogTest, ExitStatusFollowsConnectionStartAndOutcome) {
  struct Row {
    bool monitor, yes, succeeded;
    int status;
  };
  for (const Row row : {Row{false, true, true, 2}, Row{true, false, true, 3}, Row{true, true, true, 0},
                        Row{true, true, false, 1}}) {
    Journal journal_of_row;
    FakeSession fake{journal_of_row};
    FakeView fake_view{journal_of_row};
    fake.monitor = row.monitor;
    fake.succeeded = row.succeeded;
    window.SetAnswer(row.yes);
    UpdateDialog run{window, fake_view, fake};
    run.OnInitDialog();
    run.OnStartupMessage();
    if (row.monitor) run.OnStartUpdate();
    run.OnOK();
    EXPECT_EQ(run.ExitStatus(), row.status) << row.monitor << row.yes << row.succeeded;
  }
}

TEST_F(UpdateDialogTest, CancelBeforeAnUpdateClosesWithoutQuestionOrC) {
  session.monitor = true;
  dialog.OnCancel();
  EXPECT_TRUE(window.Questions().empty());
  EXPECT_EQ(journal, (std::vector<std::string>{"closing", "cancel", "stop", "close 2"}));
}

TEST_F(UpdateDialogTest, CancelWhileTheSenderHasNotBegunClosesWithoutQuestion) {
  session.monitor = true;
  session.sender = true;
  session.under_way = false;  // the sender has not begun the transfer
  dialog.OnCancel();
  EXPECT_TRUE(window.Questions().empty());
  EXPECT_EQ(journal, (std::vector<std::string>{"closing", "cancel", "stop", "close 2"}));
}

TEST_F(UpdateDialogTest, CancelDuringTheUpdateAsksAndNoKeepsTheWindowOpen) {
  session.monitor = true;
  session.sender = true;
  session.under_way = true;
  window.SetAnswer(false);
  dialog.OnCancel();
  EXPECT_EQ(window.Questions(), (std::vector<std::string>{"Update l\xE4uft bereit, wollen Sie es abbrechen ?"}));
  EXPECT_EQ(window.QuestionsDefaultNo(), std::vector<bool>{true});  // Enter keeps the flash going
  EXPECT_TRUE(journal.empty());
  EXPECT_FALSE(dialog.Closing());

  window.SetAnswer(true);
  dialog.OnCancel();
  EXPECT_EQ(window.Questions().size(), 2u);
  EXPECT_EQ(journal, (std::vector<std::string>{"closing", "cancel", "stop", "close 2"}));
}

TEST_F(UpdateDialogTest, NothingRunsTwiceOnceClosing) {
  dialog.OnOK();
  dialog.OnCancel();
  dialog.OnOK();
  dialog.OnStartUpdate();
  dialog.OnHelpButton();
  EXPECT_EQ(journal, (std::vector<std::string>{"closing", "stop", "close 1"}));
  EXPECT_TRUE(window.Questions().empty());
  EXPECT_TRUE(window.Notices().empty());
}

TEST_F(UpdateDialogTest, ProgramExitDuringTheUpdateStopsWithoutQuestionAndLeavesTheWindow) {
  session.monitor = true;
  session.sender = true;
  session.under_way = true;
  dialog.OnProgramExit();
  EXPECT_EQ(journal, (std::vector<std::string>{"closing", "stop"}));
  EXPECT_TRUE(window.Questions().empty());
  EXPECT_TRUE(dialog.Closing());
  dialog.OnCancel();  // a close box the toolkit still delivers finds the stop done
  dialog.OnProgramExit();
  EXPECT_EQ(journal, (std::vector<std::string>{"closing", "stop"}));
}

TEST_F(UpdateDialogTest, ProgramExitAfterANormalCloseDoesNothing) {
  dialog.OnOK();
  dialog.OnProgramExit();
  EXPECT_EQ(journal, (std::vector<std::string>{"closing", "stop", "close 1"}));
}

// A one-shot signal between the test's thread and the procedure's worker.
class Signal {
 public:
  void Raise() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      raised_ = true;
    }
    changed_.notify_all();
  }
  // An event, not a time: the limit only keeps a broken run from hanging.
  bool Wait() {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(30), [this] { return raised_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool raised_ = false;
};

// A window with an event loop of its own: the procedure runs on a worker and
// its end is posted (here: signalled, and the test delivers it).
class WorkerView : public FakeView {
 public:
  using FakeView::FakeView;
  bool ConnectOnWorker() const override { return true; }
  void PostConnectionEnded() override { ended.Raise(); }
  Signal ended;
};

// The connection procedure of a silent modem: it waits until interrupted.
class ConnectingTest : public ::testing::Test {
 protected:
  ConnectingTest() {
    SetMainDialog(&window);
    session.monitor = true;  // the monitor ran before the pause was cut short
    session.on_setup = [this] {
      entered.Raise();
      interrupted.Wait();
      setup_returned = true;
    };
    session.on_interrupt = [this] { interrupted.Raise(); };
    session.on_stop = [this] { stop_after_setup = setup_returned.load(); };
  }
  ~ConnectingTest() override { SetMainDialog(nullptr); }

  // Start-up, and the procedure is under way on its worker.
  void Start() {
    dialog.OnInitDialog();
    dialog.OnStartupMessage();
    ASSERT_TRUE(entered.Wait());
    EXPECT_TRUE(dialog.Connecting());
  }

  Journal journal;
  test::RecordingWindow window;
  FakeSession session{journal};
  WorkerView view{journal};
  UpdateDialog dialog{window, view, session};
  Signal entered, interrupted;
  std::atomic<bool> setup_returned{false};
  bool stop_after_setup = false;
};

// "Beenden", Esc and the close box, and SIGTERM, while the modem is searched
// for: the procedure is cut short at once, other commands that came meanwhile
// are dropped, and the window closes when the worker has returned, the stop
// after it; the run counts as "no update started".
TEST_F(ConnectingTest, ACloseRequestInterruptsTheProcedureAndClosesOnceItHasEnded) {
  struct Row {
    const char* name;
    void (UpdateDialog::*request)();
    std::vector<std::string> after;
  };
  const std::vector<Row> rows = {
      {"Beenden", &UpdateDialog::OnOK, {"write c", "closing", "stop", "close 1"}},
      {"close box", &UpdateDialog::OnCancel, {"closing", "cancel", "stop", "close 2"}},
      {"SIGTERM", &UpdateDialog::OnTerminate, {"closing", "cancel", "stop", "close 2"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Journal j;
    FakeSession s{j};
    s.monitor = true;
    WorkerView v{j};
    UpdateDialog d{window, v, s};
    Signal in, cut;
    s.on_setup = [&] {
      in.Raise();
      cut.Wait();
    };
    s.on_interrupt = [&] { cut.Raise(); };
    d.OnStartupMessage();
    ASSERT_TRUE(in.Wait());
    d.OnHelpButton();  // waits for the procedure, then the close drops it
    (d.*row.request)();
    EXPECT_EQ(s.interrupts.load(), 1);
    EXPECT_FALSE(d.Closing());  // nothing is stopped while the procedure runs
    d.OnOK();                   // a second request changes nothing
    d.OnStartUpdate();
    ASSERT_TRUE(v.ended.Wait());
    d.OnConnectionEnded();
    Journal expected = {"setup"};
    expected.insert(expected.end(), row.after.begin(), row.after.end());
    EXPECT_EQ(j, expected);
    EXPECT_TRUE(d.Closing());
    EXPECT_FALSE(d.Connecting());
    EXPECT_EQ(d.ExitStatus(), kExitDeclined);
  }
  EXPECT_TRUE(window.Notices().empty());
  EXPECT_TRUE(window.Questions().empty());
}

TEST_F(ConnectingTest, CommandsDuringTheProcedureRunOnceEachInOrderAfterIt) {
  session.on_setup = [this] {
    entered.Raise();
    interrupted.Wait();  // here: the test lets the procedure end
  };
  Start();
  window.SetAnswer(true);
  dialog.OnHelpButton();
  dialog.OnStartUpdate();
  dialog.OnHelpButton();
  EXPECT_TRUE(window.Notices().empty());
  EXPECT_TRUE(window.Questions().empty());
  interrupted.Raise();
  ASSERT_TRUE(view.ended.Wait());
  dialog.OnConnectionEnded();
  EXPECT_EQ(window.Notices().size(), 1u);
  EXPECT_EQ(window.Questions().size(), 1u);
  EXPECT_EQ(journal, (Journal{"post", "setup", "start"}));
  dialog.OnConnectionEnded();  // a stale end changes nothing
  EXPECT_EQ(window.Notices().size(), 1u);
  EXPECT_EQ(session.interrupts.load(), 0);
}

// The toolkit ends the program during the search: the worker is cut short
// and joined before the session is stopped under it.
TEST_F(ConnectingTest, ProgramExitDuringTheProcedureJoinsItBeforeTheStop) {
  Start();
  dialog.OnProgramExit();
  EXPECT_EQ(journal, (Journal{"post", "setup", "closing", "stop"}));
  EXPECT_TRUE(stop_after_setup);
  EXPECT_FALSE(dialog.Connecting());
}

TEST(PlaceholderSession, AppendsTheStartLinesAndNoModemFound) {
  test::RecordingWindow window;
  SetMainDialog(&window);
  PlaceholderSession session;
  session.SetupCommPort();
  SetMainDialog(nullptr);
  EXPECT_EQ(window.LogText(),
            "Modem-Update Tool startet.\r\n"
            "\r\nSuchen nach einem KELVORA-Modem ...\r\n\r\n"
            "Es wurde kein KELVORA-Modem gefunden.\r\n");
  EXPECT_TRUE(window.ButtonHistory().empty());
  EXPECT_FALSE(session.MonitorExists());
  EXPECT_FALSE(session.SenderThreadHandle());
}

}  // namespace
}  // namespace mfu
