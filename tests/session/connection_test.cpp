#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "resources/text_ids.h"
#include "serial/modem_list.h"
#include "session/connection.h"
#include "session/monitor.h"
#include "session/session.h"
#include "tests/session/session_fixture.h"
#include "zmodem/sender.h"

namespace mfu::test {
namespace {

// An installed-modem list of one entry naming COM1.
class OneModemList : public InstalledModemList {
 public:
  bool OpenList(KeyHandle& list) override { return list = 1, true; }
  bool EnumSubkey(KeyHandle, std::uint32_t index, char* name, std::uint32_t& size) override {
    if (index > 0) return false;
    std::strcpy(name, "0000");
    size = 4;
    return true;
  }
  bool OpenSubkey(KeyHandle, const char*, KeyHandle& subkey) override { return subkey = 2, true; }
  bool QueryValue(KeyHandle, const char* value, char* buffer, std::uint32_t& size) override {
    const char* text = std::strcmp(value, "Model") == 0 ? "Kelvora 56000" : "COM1";
    if (std::strlen(text) + 1 > size) return false;
    std::strcpy(buffer, text);
    size = static_cast<std::uint32_t>(std::strlen(text) + 1);
    return true;
  }
  void CloseKey(KeyHandle) override {}
};

class ConnectionTest : public SessionFixture {
 protected:
  void SetUp() override {
    SessionFixture::SetUp();
    SetModemList(&list_);
    SetCommandAnswers(nullptr);
  }
  // The command interpreter answers as the flags say; `loader` answers the
  // rest (the good modem when null).
  void SetCommandAnswers(ScriptedModem::Answer loader) {
    modem_->SetAnswer([this, loader](const SeenFrame& f, int index) -> std::string {
      if (f.frame == Frame::kAtD && !answer_at_d_) return "";
      if (f.frame == Frame::kA && !answer_a_) return "";
      return loader ? loader(f, index) : ScriptedModem::GoodAnswer(f);
    });
  }
  std::string Text(unsigned id) {
    char buffer[256];
    LoadText(id, buffer, sizeof buffer);
    return buffer;
  }
  // Text `id` with its "%s" and "%d" marks filled in order.
  std::string Text(unsigned id, std::vector<std::string> arguments) {
    std::string text = Text(id);
    for (const std::string& argument : arguments) {
      const auto mark = std::min(text.find("%s"), text.find("%d"));
      text.replace(mark, 2, argument);
    }
    return text;
  }

  OneModemList list_;
  bool answer_at_d_ = true;
  bool answer_a_ = true;
};

TEST_F(ConnectionTest, GoodPathShowsTheModemEnablesTheButtonsAndTheCutBanner) {
  session().SetupCommPort();
  EXPECT_TRUE(session().SessionMonitorExists());
  const std::string expected = Text(2009) + Text(2010) + "Ein KELVORA-Modem wurde an COM1 gefunden.\r\n" + Text(2015) +
                               "\r\nDownload-Modus aktiv\r\n" + Text(2003);
  EXPECT_EQ(window_.LogText(), expected);
  const std::vector<std::pair<int, bool>> buttons = {{1006, true}, {1007, true}, {1012, true}, {1, true}};
  EXPECT_EQ(window_.ButtonHistory(), buttons);
  ASSERT_TRUE(port().PortHandle());
}

// A program with the stand-in image says so, and sends it to a simulated or
// pseudo-terminal modem only (the end-to-end runs): a port of real hardware
// is never opened. Named, it is refused; in the search (listed or probed) it
// is passed over, which the log says once, and a simulated line is still
// searched and found.
TEST_F(ConnectionTest, StandInImageIsAnnouncedAndKeptFromRealPorts) {
  const std::string refused =
      "COM1 ist eine echte serielle Schnittstelle. Ein Programm mit Test-Abbild sendet nicht an ein echtes Modem.\r\n";
  struct Case {
    const char* name;
    const char* named;
    bool installed;  // the installed-modem list names COM1
    std::vector<std::string> hardware;
    bool found;
  };
  const Case cases[] = {
      {"named", "COM1", false, {"COM1"}, false},
      {"installed modem", nullptr, true, {"COM1"}, false},
      {"searched, none left", nullptr, false, {"/dev/ttyUSB0", "COM1", "COM2", "COM3", "COM4"}, false},
      {"searched, the simulated COM1 found", nullptr, false, {"/dev/ttyUSB0", "COM2"}, true},
  };
  NoInstalledModems no_modems;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    const std::size_t earlier = window_.LogText().size();  // the window lives on
    resources_.standin = true;
    backend_.SetHardwarePorts(c.hardware);
    backend_.SetListed({"/dev/ttyUSB0"});
    // --port names the port as the session is made.
    if (c.named != nullptr) seams_.session = std::make_unique<Session>(c.named);
    if (!c.installed) SetModemList(&no_modems);
    session().SetupCommPort();
    const std::string log = window_.LogText().substr(earlier);
    EXPECT_EQ(session().SessionMonitorExists(), c.found);
    for (const std::string& port : backend_.Opened()) {
      EXPECT_EQ(std::count(c.hardware.begin(), c.hardware.end(), port), 0) << port << " opened";
    }
    const std::string head = Text(2009) + Text(23) + Text(2010);
    if (c.named != nullptr || c.installed) {
      EXPECT_EQ(log, head + refused);
      continue;
    }
    EXPECT_EQ(log.substr(0, head.size() + Text(mfu::kTextStandInPortsSkipped).size()), head + Text(mfu::kTextStandInPortsSkipped));
    EXPECT_EQ(log.find(Text(mfu::kTextStandInPortsSkipped), head.size() + 1), std::string::npos) << "said more than once";
    if (c.found) {
      EXPECT_NE(log.find("Ein KELVORA-Modem wurde an COM1 gefunden.\r\n"), std::string::npos) << log;
      EXPECT_EQ(backend_.Opened().front(), "COM1");
    } else {
      // Nothing was tried, so no list of ports tried comes before it.
      EXPECT_EQ(log, head + Text(mfu::kTextStandInPortsSkipped) + Text(2014) + Text(43));
      EXPECT_TRUE(backend_.Opened().empty());
    }
    session().StopSessionMonitor();
  }
}

TEST_F(ConnectionTest, NoAnswerToEitherCommandShowsKeineAntwortTwice) {
  answer_at_d_ = false;
  answer_a_ = false;
  session().SetupCommPort();
  const std::string log = window_.LogText();
  const std::string none = Text(2004);
  const auto first = log.find(none);
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(log.find(none, first + 1), std::string::npos);
  EXPECT_EQ(log.find(Text(2003)), std::string::npos);
  EXPECT_TRUE(window_.ButtonEnabled(1006));
}

TEST_F(ConnectionTest, SilentAOnlyReportsTheSecondCommand) {
  answer_a_ = false;
  session().SetupCommPort();
  const std::string log = window_.LogText();
  // ModemManager does not run: nothing names it as the cause.
  EXPECT_EQ(log.find("ModemManager"), std::string::npos) << log;
  const auto first = log.find(Text(2004));
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(log.find(Text(2004), first + 1), std::string::npos);
  // The silent answer to at@d never shows up in the pane.
  EXPECT_EQ(log.find("OK"), std::string::npos);
}

TEST_F(ConnectionTest, NoModemFoundListsEachPortTriedAndWhy) {
  NoInstalledModems empty;
  SetModemList(&empty);
  device_->SetModemStatus(0, true);  // the probe skips COM1; COM2 is busy, COM3 silent, COM4 missing
  backend_.Fail("COM2", OpenFailureKind::kBusy);
  backend_.SetHolders("COM2", {{"ModemManager", 812}});
  auto silent = backend_.Add("COM3");
  // Each port's line is in the pane before the next port is opened.
  std::vector<std::string> seen_at_open;
  silent->SetResponder([&](const FakeSerialDevice::Bytes&) { seen_at_open.push_back(window_.LogText()); });
  session().SetupCommPort();
  const std::string list = Text(30) + "  " + Text(2011, {"COM1"}) +
                           "  COM2 wird von einem anderen Programm benutzt (ModemManager, PID 812).\r\n";
  EXPECT_EQ(window_.LogText(), Text(2009) + Text(2010) + list + "  " + Text(35, {"COM3"}) + "  " +
                                   Text(25, {"COM4"}) + Text(2014) + Text(29) + Text(43));
  EXPECT_EQ(seen_at_open, std::vector<std::string>{Text(2009) + Text(2010) + list});
  EXPECT_FALSE(session().SessionMonitorExists());
  EXPECT_TRUE(window_.ButtonHistory().empty());
}

TEST_F(ConnectionTest, EachOpenFailureIsFollowedByItsReason) {
  struct Case {
    OpenFailureKind kind;
    std::vector<PortHolder> holders;
    std::string reason;
  };
  const Case cases[] = {
      {OpenFailureKind::kMissing, {}, "Die Schnittstelle COM1 gibt es nicht. Ist das Modem oder der USB-Adapter "
                                      "angeschlossen?\r\n"},
      {OpenFailureKind::kNoPermission, {}, Text(26, {"COM1"})},
      {OpenFailureKind::kBusy, {}, "COM1 wird von einem anderen Programm benutzt.\r\n"},
      {OpenFailureKind::kBusy, {{"minicom", 321}}, "COM1 wird von einem anderen Programm benutzt (minicom, PID 321).\r\n"},
      {OpenFailureKind::kBusy, {{"ModemManager", 77}},
       "COM1 wird von einem anderen Programm benutzt (ModemManager, PID 77).\r\n" + Text(29)},
      // Held by nobody this user can see, while other users' processes hide
      // their descriptors.
      {OpenFailureKind::kBusy, {{"", 0, /*other_user=*/true}},
       "COM1 wird von einem anderen Programm benutzt (von einem Programm eines anderen Benutzers).\r\n"},
      {OpenFailureKind::kNotSerial, {}, "COM1 ist keine serielle Schnittstelle.\r\n"},
      {OpenFailureKind::kOther, {}, Text(37, {"COM1"})},
  };
  EXPECT_NE(Text(26, {"COM1"}).find("sudo usermod -aG dialout"), std::string::npos);
  for (const Case& c : cases) {
    FakeSerialBackend failing;
    failing.Fail("COM1", c.kind);
    failing.SetHolders("COM1", c.holders);
    SetSerialBackend(&failing);
    const std::size_t before = window_.LogText().size();
    session().SetupCommPort();
    EXPECT_EQ(window_.LogText().substr(before), Text(2009) + Text(2010) + Text(2016) + c.reason)
        << static_cast<int>(c.kind);
    EXPECT_FALSE(window_.ButtonEnabled(1006));
    EXPECT_FALSE(session().SessionMonitorExists());
  }
  EXPECT_EQ(diags_.Count("SetupCommPort() failed\n"), 8);
}

TEST_F(ConnectionTest, AnotherProgramWithThePortOpenIsNamedBeforeTheUpdateCanStart) {
  backend_.SetHolders("COM1", {{"minicom", 99}, {"ModemManager", 7}});
  session().SetupCommPort();
  EXPECT_TRUE(session().SessionMonitorExists());  // a warning, not a failure
  const std::string warning = "Ein KELVORA-Modem wurde an COM1 gefunden.\r\n" +
                              Text(31, {"COM1", "minicom", "99"}) + Text(31, {"COM1", "ModemManager", "7"}) +
                              Text(29) + Text(2015);
  EXPECT_NE(window_.LogText().find(warning), std::string::npos) << window_.LogText();
  EXPECT_NE(warning.find("Achtung: COM1 ist auch von minicom (PID 99) ge\xF6" "ffnet."), std::string::npos);
}

// ModemManager is told of before the search sends anything, whoever runs it,
// and only once, also when it then turns out to hold the port.
TEST_F(ConnectionTest, ARunningModemManagerIsToldOnceBeforeTheSearch) {
  backend_.SetModemManagerRuns(true);
  backend_.SetHolders("COM1", {{"ModemManager", 7}, {"", 0, /*other_user=*/true}});
  session().SetupCommPort();
  const std::string log = window_.LogText();
  EXPECT_EQ(log.rfind(Text(2009) + Text(29) + Text(2010), 0), 0u) << log;
  EXPECT_EQ(log.find(Text(29), Text(2009).size() + 1), std::string::npos) << log;
  EXPECT_NE(log.find(Text(31, {"COM1", "ModemManager", "7"}) + Text(2015)), std::string::npos) << log;
}

// A port named with --port is asked once for the identifier, as the quick
// scan asks; only its answer makes it "found", and without it the procedure
// goes on to the download mode, whose answer decides.
TEST_F(ConnectionTest, ANamedPortIsAskedBeforeItIsCalledFound) {
  struct Case {
    const char* name;
    const char* ati4;  // the answer to "ati4\r\n", nullptr: silent
    std::string line;
  };
  const Case cases[] = {
      {"the modem", "ati4\r\nKELVORA 56000 QVRLMAZZ\r\nOK\r\n", "Ein KELVORA-Modem wurde an COM1 gefunden.\r\n"},
      {"silent", nullptr, "COM1 antwortet nicht.\r\n"},
      {"another modem", "ati4\r\n56000\r\nOK\r\n", "COM1 antwortet, aber nicht als KELVORA-Modem.\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    seams_.session = std::make_unique<Session>("COM1");
    SetModemList(nullptr);
    SetCommandAnswers([&c](const SeenFrame& f, int) -> std::string {
      if (f.frame == Frame::kAti4) return c.ati4 != nullptr ? c.ati4 : "";
      return ScriptedModem::GoodAnswer(f);
    });
    const std::size_t earlier = window_.LogText().size();
    session().SetupCommPort();
    const std::string log = window_.LogText().substr(earlier);
    EXPECT_EQ(log.substr(0, (Text(2009) + Text(2010) + c.line + Text(2015)).size()),
              Text(2009) + Text(2010) + c.line + Text(2015));
    // Asked once, before the download mode; what it said later is not taken
    // for the answer to "at@d", and the download mode still answers.
    const auto writes = device_->Writes();
    ASSERT_GE(writes.size(), 3u);
    EXPECT_EQ(std::string(writes[0].begin(), writes[0].end()), "ati4\r\n");
    EXPECT_EQ(std::string(writes[1].begin(), writes[1].end()), "at@d\r\n");
    EXPECT_TRUE(session().DownloadModeAnswered());
    EXPECT_TRUE(session().SessionMonitorExists());
    EXPECT_EQ(log.find(Text(2004)), std::string::npos) << log;
    session().StopSessionMonitor();
  }
}

// ModemManager, told of before the search, is named as the likely cause
// when the download mode then stays silent, once, after that answer.
TEST_F(ConnectionTest, ASilentDownloadModeNamesARunningModemManager) {
  backend_.SetModemManagerRuns(true);
  answer_a_ = false;
  session().SetupCommPort();
  const std::string log = window_.LogText();
  EXPECT_EQ(log.size() - log.rfind(Text(2004) + Text(45)), (Text(2004) + Text(45)).size()) << log;
  EXPECT_EQ(log.find(Text(45)), log.rfind(Text(45)));
  EXPECT_NE(Text(45).find("sudo systemctl stop ModemManager\r\n"), std::string::npos);
}

TEST_F(ConnectionTest, StatusQueryFails) {
  device_->SetModemStatus(0, true);
  session().SetupCommPort();
  EXPECT_EQ(window_.LogText(),
            Text(2009) + Text(2010) + "GetCommModemStatus() vom COM1 fehlgeschlagen.\r\n" + Text(2016));
  EXPECT_FALSE(port().PortHandle());
  EXPECT_EQ(device_->State(), "original");
}

TEST_F(ConnectionTest, NeitherCtsNorDsr) {
  device_->SetModemStatus(0);
  session().SetupCommPort();
  EXPECT_EQ(window_.LogText(), Text(2009) + Text(2010) + Text(2012) + Text(2016));
  EXPECT_FALSE(port().PortHandle());
  EXPECT_EQ(device_->State(), "original");
}

TEST_F(ConnectionTest, CtsWithoutDsrStillStartsTheSession) {
  device_->SetModemStatus(kMsCtsOn);
  session().SetupCommPort();
  EXPECT_TRUE(session().SessionMonitorExists());
  EXPECT_NE(window_.LogText().find("Ein KELVORA-Modem wurde an COM1 gefunden.\r\n"), std::string::npos);
}

class MonitorTest : public ConnectionTest {
 protected:
  void StartAndWait() {
    session().SetupCommPort();
    ASSERT_TRUE(session().SessionMonitorExists());
    EXPECT_FALSE(session().UpdateUnderWay());
    session().SignalStartUpdate();
    ASSERT_TRUE(window_.WaitForRest(300000));
    ASSERT_TRUE(session().SenderThreadHandle());
    // An update with its outcome reported is over: closing asks nothing.
    EXPECT_FALSE(session().UpdateUnderWay());
  }
};

TEST_F(MonitorTest, SuccessIsReportedWithNameAndDateAndGivesBackThreeButtons) {
  StartAndWait();
  EXPECT_EQ(monitor().LastOutcome(), Outcome::kSucceeded);
  const std::string log = window_.LogText();
  const std::string report = Text(2005);
  EXPECT_NE(log.find(report), std::string::npos);
  const std::string success = Text(2007) + "\r\nNeue Firmware:\r\n  Name  - bc2780ix.bin\r\n" +
                              "  Datum - Tue Oct 13 16:34:34 1998\r\n";
  ASSERT_GE(log.size(), success.size());
  EXPECT_EQ(log.substr(log.size() - success.size()), success);
  const auto history = window_.ButtonHistory();
  const std::vector<std::pair<int, bool>> last3(history.end() - 3, history.end());
  const std::vector<std::pair<int, bool>> expected = {{1007, true}, {1012, true}, {1, true}};
  EXPECT_EQ(last3, expected);
}

TEST_F(MonitorTest, FailureIsReportedWithTheRetryHintAndGivesBackThreeButtons) {
  SetCommandAnswers([](const SeenFrame& f, int) {
    return f.frame == Frame::kZdata ? HexHeader(ZNAK) : ScriptedModem::GoodAnswer(f);
  });
  StartAndWait();
  EXPECT_EQ(monitor().LastOutcome(), Outcome::kFailed);
  // A cancel after the outcome has nothing to cut: no second ZABORT, no
  // interruption report.
  session().CancelUpdate();
  EXPECT_EQ(modem_->Count(Frame::kZabort), 1);
  // The first block went unacknowledged: the line says which, of how many,
  // and what came instead.
  const std::string tail = Text(2008) + "Ursache: Das Modem hat Block 1 von 3 nicht angenommen (ZNAK).\r\n" +
                           Text(2001) + Text(2002);
  const std::string log = window_.LogText();
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
  const auto history = window_.ButtonHistory();
  ASSERT_GE(history.size(), 3u);
  const std::vector<std::pair<int, bool>> last3(history.end() - 3, history.end());
  EXPECT_EQ(last3, (std::vector<std::pair<int, bool>>{{1007, true}, {1012, true}, {1, true}}));
}

TEST_F(MonitorTest, NoAnswerToBIsNoFailureWhileTheFlashGoesOn) {
  SetCommandAnswers([](const SeenFrame& f, int) -> std::string {
    return f.frame == Frame::kB ? "" : ScriptedModem::GoodAnswer(f);  // no answer to "b"
  });
  StartAndWait();
  const std::string log = window_.LogText();
  EXPECT_EQ(log.find(Text(2008)), std::string::npos) << log;
  EXPECT_NE(log.find(Text(2007)), std::string::npos) << log;
  EXPECT_EQ(monitor().LastOutcome(), Outcome::kSucceeded);
}

// The stop (the session is over) and the cancel (the user cuts the flash)
// while the sender waits in a long read: both end within the limit and give
// the port back; only the cancel tells the modem (ZABORT) and the user.
TEST_F(MonitorTest, StopOrCancelDuringALongReadEndsWithinTheLimitAndRestoresThePort) {
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancel" : "stop");
    TearDown();
    SetUp();
    SetCommandAnswers([](const SeenFrame& f, int index) {
      return f.frame == Frame::kZdata && index == 1 ? "" : ScriptedModem::GoodAnswer(f);
    });
    session().SetupCommPort();
    SetTimeDivisor(1);  // the sender now waits a real 60 s for the second ZACK
    session().SignalStartUpdate();
    while (modem_->Count(Frame::kZdata) < 2) SleepMs(10);
    EXPECT_TRUE(session().UpdateUnderWay());
    const auto start = std::chrono::steady_clock::now();
    if (cancel) session().CancelUpdate();
    session().StopSessionMonitor();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(session().SessionMonitorExists());
    EXPECT_FALSE(session().SenderThreadHandle());
    EXPECT_FALSE(port().PortHandle());
    EXPECT_EQ(device_->State(), "original");
    EXPECT_FALSE(monitor().QuitMonitorEvent);
    EXPECT_FALSE(port().ReadCompleteEvent);
    EXPECT_EQ(modem_->Count(Frame::kZabort), cancel ? 1 : 0);
    const std::string log = window_.LogText();
    const std::string cancelled = Text(2006) + Text(2001) + Text(2002);
    EXPECT_EQ(log.size() >= cancelled.size() && log.compare(log.size() - cancelled.size(), cancelled.size(), cancelled) == 0,
              cancel)
        << log;
    EXPECT_EQ(log.find(Text(2008)), std::string::npos) << log;
    // A plain stop (the window ends) cuts the sender's read: the sender takes
    // that for a failure only if it serves the cut read before the quit that
    // follows it; either way nobody is left to report it.
    const Outcome outcome = monitor().LastOutcome();
    if (cancel) {
      EXPECT_EQ(outcome, Outcome::kCancelled);
    } else {
      EXPECT_TRUE(outcome == Outcome::kNone || outcome == Outcome::kFailed) << static_cast<int>(outcome);
    }
  }
}

// One outcome per run, decided by whichever comes first. A cancel before the
// flash loader's final answer is the outcome: the answer (sent right after
// it) is neither shown nor judged. A cancel once the answer is in (here while
// the sender shows it, before its verdict) changes nothing: no interruption,
// no ZABORT, and the verdict is reported and kept.
TEST_F(MonitorTest, ACancelAroundTheFinalAnswerLeavesOneOutcome) {
  static constexpr char kFinal[] = "\r\nFlash-Programmierung erfolgreich\r\n";
  for (const bool answer_first : {false, true}) {
    SCOPED_TRACE(answer_first ? "cancel while the answer is shown" : "cancel before the answer");
    TearDown();
    SetUp();
    SetCommandAnswers([](const SeenFrame& f, int) -> std::string {
      return f.frame == Frame::kOverAndOut ? kFinal : ScriptedModem::GoodAnswer(f);
    });
    const std::size_t earlier = window_.LogText().size();  // the window lives on
    std::thread canceller;
    std::atomic<bool> cancel_started{false};
    Outcome while_shown = Outcome::kNone;
    window_.SetAppendHook([&](const std::string& text) {
      if (!answer_first && text == Text(2034)) {
        // The window's cancel comes just before "OO" goes out; the sender
        // goes on only once the cancel has decided the outcome.
        canceller = std::thread([this] { session().CancelUpdate(); });
        cancel_started = true;
        while (monitor().LastOutcome() == Outcome::kNone) SleepMs(1);
      } else if (answer_first && text.find("Flash-Programmierung") != std::string::npos) {
        while_shown = monitor().LastOutcome();
        session().CancelUpdate();  // finds the answer in: returns at once
      }
    });
    session().SetupCommPort();
    session().SignalStartUpdate();
    if (answer_first) {
      ASSERT_TRUE(window_.WaitForRest(300000));
    } else {
      while (!cancel_started) SleepMs(1);
      canceller.join();  // the cancel has ended the sender
    }
    session().StopSessionMonitor();
    window_.SetAppendHook(nullptr);

    const std::string log = window_.LogText().substr(earlier);
    const std::string cancelled = Text(2006) + Text(2001) + Text(2002);
    const std::string succeeded = Text(2007) + "\r\nNeue Firmware:\r\n  Name  - bc2780ix.bin\r\n";
    if (answer_first) {
      EXPECT_EQ(while_shown, Outcome::kJudging);
      EXPECT_EQ(monitor().LastOutcome(), Outcome::kSucceeded);
      EXPECT_NE(log.find(kFinal), std::string::npos) << log;
      EXPECT_NE(log.find(succeeded), std::string::npos) << log;
      EXPECT_EQ(log.find(Text(2006)), std::string::npos) << log;
      EXPECT_EQ(modem_->Count(Frame::kZabort), 0);
    } else {
      EXPECT_EQ(monitor().LastOutcome(), Outcome::kCancelled);
      EXPECT_EQ(log.find("Flash-Programmierung"), std::string::npos) << log;
      EXPECT_EQ(log.find(Text(2007)), std::string::npos) << log;
      EXPECT_EQ(log.find(Text(2004)), std::string::npos) << log;
      ASSERT_GE(log.size(), cancelled.size());
      EXPECT_EQ(log.substr(log.size() - cancelled.size()), cancelled);
      EXPECT_EQ(modem_->Count(Frame::kZabort), 1);
    }
  }
}

// From the confirmed start until the outcome a cancel is an interruption,
// also before the transfer proper: while the sender awaits the answer to "b"
// (the modem may be ready for ZRQINIT) it tells the modem with ZABORT and
// sends no ZRQINIT; right behind the start, a sender the monitor starts at
// all sends ZABORT (none starts once the cancel is in). Either way the user
// reads the interruption and the outcome is the cancel.
TEST_F(MonitorTest, ACancelRightAfterTheConfirmedStartIsAnInterruption) {
  for (const bool in_b : {true, false}) {
    SCOPED_TRACE(in_b ? "while the answer to b is awaited" : "right behind the start");
    TearDown();
    SetUp();
    SetCommandAnswers([](const SeenFrame& f, int) -> std::string {
      return f.frame == Frame::kB ? "" : ScriptedModem::GoodAnswer(f);
    });
    session().SetupCommPort();
    ASSERT_TRUE(session().SessionMonitorExists());
    SetTimeDivisor(1);  // the sender now waits a real 6 s for the answer to "b"
    session().SignalStartUpdate();
    EXPECT_TRUE(session().UpdateUnderWay());
    if (in_b) {
      while (modem_->Count(Frame::kB) < 1) SleepMs(10);
    }
    session().CancelUpdate();
    session().StopSessionMonitor();
    EXPECT_EQ(monitor().LastOutcome(), Outcome::kCancelled);
    EXPECT_FALSE(session().UpdateUnderWay());
    EXPECT_EQ(modem_->Count(Frame::kZrqinit), 0);
    // The modem heard "b" exactly when a sender ran, and then hears ZABORT.
    EXPECT_EQ(modem_->Count(Frame::kZabort), in_b ? 1 : modem_->Count(Frame::kB));
    const std::string log = window_.LogText();
    const std::string cancelled = Text(2006) + Text(2001) + Text(2002);
    ASSERT_GE(log.size(), cancelled.size());
    EXPECT_EQ(log.substr(log.size() - cancelled.size()), cancelled) << log;
  }
}

TEST_F(MonitorTest, StopWithoutMonitorDoesNothing) {
  session().StopSessionMonitor();
  EXPECT_FALSE(session().SessionMonitorExists());
  EXPECT_TRUE(window_.LogText().empty());
}

TEST(FirmwareDate, BuiltInDateAsTheSuccessReportShowsIt) {
  char date[64];
  FormatFirmwareDate(908296474, date, sizeof date);
  EXPECT_STREQ(date, "Tue Oct 13 16:34:34 1998");
  FormatFirmwareDate(0, date, sizeof date);
  EXPECT_STREQ(date, "Thu Jan  1 00:00:00 1970");
  FormatFirmwareDate(951782400, date, sizeof date);  // a leap day
  EXPECT_STREQ(date, "Tue Feb 29 00:00:00 2000");
}

}  // namespace
}  // namespace mfu::test
