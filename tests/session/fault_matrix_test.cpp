// The fault matrix: one whole run (discovery, connection, update, stop)
// against the in-process simulated modem for every step of the exchange and
// every fault the simulator can place there. Each cell checks what the user
// is told, whether ZABORT went out, that the run ends, that the stop is
// quick, and that port, settings and threads are given back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "resources/resources.h"
#include "serial/comm_port.h"
#include "serial/modem_list.h"
#include "serial/serial_device.h"
#include "session/monitor.h"
#include "session/session.h"
#include "tests/session/session_fixture.h"
#include "tests/support/diag_recorder.h"
#include "tests/support/recording_window.h"
#include "simulator/simulated_modem.h"
#include "zmodem/sender.h"

namespace mfu::test {
namespace {

using sim::Fault;
using sim::FaultKind;
using sim::Step;

// Five blocks: block 1 goes from state 2, block 3 is a middle one, block 5
// (of 152 bytes) the last.
constexpr std::size_t kImageSize = 4 * 512 + 152;
constexpr std::uint32_t kLastBlock = 5;
constexpr std::uint32_t kMiddleBlock = 3;

// Program time runs 100 times faster here. A late answer comes (and a
// dribbled one ends) this long after the tool's limit, counted from the
// tool's write: 250 ms real, which no delay of the tool's thread between its
// write and its wait outlasts. It must stay as far below 50000 ms: the
// modem's answer to "a" queues behind a late answer to "at@d" and must still
// come within the tool's limit for it.
constexpr Millis kLateMs = 25000;
static_assert(kLateMs / kSessionTimeDivisor == 250, "the late answer's margin is 250 ms real");

sim::Bytes MatrixImage() {
  sim::Bytes image(kImageSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13 + i / 512 + 0x11);
  return image;
}

// What the user must be shown at the end of a run.
enum class Expect {
  kNoModem,             // 2014: the probe found nothing, no session
  kNoMonitor,           // 2012 + 2016: lines dead at the status check, no session
  kSuccess,             // success report only
  kFailure,             // one failure report only
  kEither               // one outcome, either; where the stale answer lands is open
};

struct Cell {
  Fault fault;
  Expect expect = Expect::kSuccess;
  int failures = 0;          // failure reports (2008 + 2001 + 2002)
  int aborts = 0;            // ZABORT frames the modem received; -1: not checked
  int no_answer = 0;         // text 2004 in the log
  bool port_restorable = true;  // false after a hang-up: a dead line takes no settings
  std::string cause;         // the line after 2008 that says why (kFailure)
  std::string name;
};

// The cause lines, written out here as the user reads them (CP1252).
std::string NoAnswerCause(const std::string& awaited, int seconds) {
  return "Ursache: Das Modem hat auf " + awaited + " nicht innerhalb von " + std::to_string(seconds) +
         " Sekunden geantwortet.\r\n";
}
std::string LineBrokenCause() {
  // The simulated line reports no errno: the system's text for the device
  // that went away.
  return "Ursache: Die Verbindung zum Modem ist abgebrochen (" + SystemErrorText(kErrorDeviceRemoved, 0) +
         "). Pr\xFC" "fen Sie Kabel und Stromversorgung des Modems.\r\n";
}
const char kNotConfirmedCause[] = "Ursache: Der Flash-Loader hat das Update nicht best\xE4tigt.\r\n";

// What each ZMODEM step waits for, as the cause names it, and the header due.
std::string AwaitedOf(Step s, std::uint32_t block) {
  switch (s) {
    case Step::kZrqinit: return "den Start der \xDC" "bertragung";
    case Step::kZfile: return "die Dateiangaben";
    case Step::kZdata: return "Block " + std::to_string(block) + " von " + std::to_string(kLastBlock);
    case Step::kZeof: return "das Dateiende";
    default: return "den Abschluss";
  }
}
const char* DueHeader(Step s) {
  switch (s) {
    case Step::kZfile: return "ZRPOS";
    case Step::kZdata: return "ZACK";
    case Step::kZfin: return "ZFIN";
    default: return "ZRINIT";
  }
}

void PrintTo(const Cell& cell, std::ostream* os) { *os << sim::FaultToString(cell.fault); }

const char* StepName(Step s) {
  switch (s) {
    case Step::kStart: return "Start";
    case Step::kProbe: return "Probe";
    case Step::kAtD: return "AtD";
    case Step::kA: return "A";
    case Step::kB: return "B";
    case Step::kZrqinit: return "Zrqinit";
    case Step::kZfile: return "Zfile";
    case Step::kZdata: return "Zdata";
    case Step::kZeof: return "Zeof";
    case Step::kZfin: return "Zfin";
    case Step::kFinal: return "Final";
  }
  return "Unknown";
}

const char* KindName(FaultKind k) {
  switch (k) {
    case FaultKind::kSilence: return "Silence";
    case FaultKind::kLate: return "Late";
    case FaultKind::kGarbage: return "Garbage";
    case FaultKind::kZnak: return "Znak";
    case FaultKind::kZrpos: return "Zrpos";
    case FaultKind::kBinary: return "Binary";
    case FaultKind::kCrc: return "Crc";
    case FaultKind::kDsrOff: return "DsrOff";
    case FaultKind::kLinesOff: return "LinesOff";
    case FaultKind::kStatusFails: return "StatusFails";
    case FaultKind::kHangUp: return "HangUp";
    case FaultKind::kNoSuccess: return "NoSuccess";
    case FaultKind::kNulBeforeSuccess: return "NulBeforeSuccess";
    case FaultKind::kNegative: return "Negative";
    case FaultKind::kEarly: return "Early";
    case FaultKind::kDribble: return "Dribble";
    case FaultKind::kEscape: return "Escape";
  }
  return "Unknown";
}

bool IsZmodemStep(Step s) {
  return s == Step::kZrqinit || s == Step::kZfile || s == Step::kZdata || s == Step::kZeof || s == Step::kZfin;
}

// The expected result of one fault, from the sender's rules: a wrong or
// damaged header in states 1 to 6 gives up with ZABORT; a missing answer
// (silence, too late, a dead line) fails without one.
Cell Expectation(Step step, FaultKind kind, std::uint32_t block) {
  Cell c;
  c.fault.step = step;
  c.fault.kind = kind;
  c.fault.block = block;
  c.name = std::string(StepName(step)) + (step == Step::kZdata ? std::to_string(block) : "") + "_" + KindName(kind);
  const bool header_fault = kind == FaultKind::kZnak || kind == FaultKind::kZrpos || kind == FaultKind::kBinary ||
                            kind == FaultKind::kCrc;
  const bool lines_fault = kind == FaultKind::kDsrOff || kind == FaultKind::kLinesOff;
  c.port_restorable = kind != FaultKind::kHangUp;

  if (step == Step::kStart || step == Step::kProbe) {
    switch (kind) {
      case FaultKind::kSilence:
      case FaultKind::kLate:  // kLateMs after the probe's 50000 ms
      case FaultKind::kHangUp: c.expect = Expect::kNoModem; break;
      case FaultKind::kLinesOff: c.expect = Expect::kNoMonitor; break;
      default: c.expect = Expect::kSuccess; break;  // garbage before the identifier; CTS alone is enough
    }
    return c;
  }
  if (step == Step::kAtD || step == Step::kA) {
    switch (kind) {
      case FaultKind::kSilence:
      case FaultKind::kLate:
        // Text 2004 once; the download mode is entered anyway, and the late
        // answer is gone with the answer to "b" (the run waits for it).
        c.no_answer = 1;
        c.expect = Expect::kSuccess;
        break;
      case FaultKind::kHangUp:
        // No answer to "at@d" (when it hangs up there) and none to "a"; the
        // update then gets no answer to "b" and ZRQINIT: one failure event.
        c.no_answer = step == Step::kAtD ? 2 : 1;
        c.expect = Expect::kFailure;
        c.failures = 1;
        c.cause = LineBrokenCause();
        break;
      default: c.expect = Expect::kSuccess; break;
    }
    return c;
  }
  if (step == Step::kB) {
    switch (kind) {
      case FaultKind::kLate:
        // No failure at the time limit (the answer to "b" is not awaited);
        // the answer that arrives kLateMs later lands in a later read, or in
        // none.
        c.expect = Expect::kEither;
        c.aborts = -1;
        break;
      case FaultKind::kHangUp:
        // The answer to ZRQINIT is missing too: one failure, no ZABORT.
        c.expect = Expect::kFailure;
        c.failures = 1;
        c.cause = LineBrokenCause();
        break;
      default: c.expect = Expect::kSuccess; break;  // silence included
    }
    return c;
  }
  if (step == Step::kZrqinit &&
      (kind == FaultKind::kSilence || kind == FaultKind::kLate || kind == FaultKind::kHangUp)) {
    // The time-out fails; the data event of the answer to "b" then finds a
    // sender that has given up: nothing more is sent, no second report.
    c.expect = Expect::kFailure;
    c.failures = 1;
    c.cause = kind == FaultKind::kHangUp ? LineBrokenCause() : NoAnswerCause(AwaitedOf(step, block), 6);
    return c;
  }
  if (IsZmodemStep(step)) {
    if (lines_fault) {
      c.expect = Expect::kSuccess;
    } else if (kind == FaultKind::kZrpos && step == Step::kZfile) {
      c.expect = Expect::kSuccess;  // a ZRPOS is the due answer to ZFILE
    } else if (header_fault || kind == FaultKind::kGarbage) {
      // Garbage (11 bytes) before a header of 20 or 21 bytes does not fit in
      // the 21 bytes a header read takes: the header arrives cut and is
      // given up on like a damaged one.
      c.expect = Expect::kFailure;
      c.failures = 1;
      c.aborts = 1;
      // What came instead: another header's type, the due one in binary
      // form, or a header that does not check out (also one cut short).
      std::string answer = "Header besch\xE4" "digt";
      if (kind == FaultKind::kZnak) answer = "ZNAK";
      if (kind == FaultKind::kZrpos) answer = "ZRPOS";
      if (kind == FaultKind::kBinary) answer = std::string("ZBIN ") + DueHeader(step);
      c.cause = "Ursache: Das Modem hat " + AwaitedOf(step, block) + " nicht angenommen (" + answer + ").\r\n";
    } else {
      c.expect = Expect::kFailure;  // silence, late, hang-up
      c.failures = 1;
      c.cause = kind == FaultKind::kHangUp ? LineBrokenCause() : NoAnswerCause(AwaitedOf(step, block), 60);
    }
    return c;
  }
  // The final answer.
  if (lines_fault || kind == FaultKind::kEscape) {
    c.expect = Expect::kSuccess;
  } else {
    // silence, late, hang-up, nothing after "OO" behind an early text, a
    // text that outlasts the limit: text 2004; garbage (it holds a zero
    // byte), no-success, nul and negative: no verdict of success.
    // A text still dribbling in at the limit is shown as far as it came and
    // judged: no success line in it.
    const bool nothing = kind == FaultKind::kSilence || kind == FaultKind::kLate || kind == FaultKind::kHangUp ||
                         kind == FaultKind::kEarly;
    c.no_answer = nothing ? 1 : 0;
    c.expect = Expect::kFailure;
    c.failures = 1;
    c.cause = kind == FaultKind::kHangUp ? LineBrokenCause()
              : nothing                  ? NoAnswerCause("die Pr\xFC" "fung des Flash", 50)
                                         : kNotConfirmedCause;
  }
  return c;
}

std::vector<Cell> AllCells() {
  std::vector<Cell> cells;
  const FaultKind line_kinds[] = {FaultKind::kHangUp, FaultKind::kDsrOff, FaultKind::kLinesOff};
  const FaultKind answer_kinds[] = {FaultKind::kSilence, FaultKind::kLate, FaultKind::kGarbage};
  const FaultKind header_kinds[] = {FaultKind::kZnak, FaultKind::kZrpos, FaultKind::kBinary, FaultKind::kCrc};
  for (FaultKind k : line_kinds) cells.push_back(Expectation(Step::kStart, k, 1));
  struct StepAt {
    Step step;
    std::uint32_t block;
  };
  const StepAt steps[] = {{Step::kProbe, 1}, {Step::kAtD, 1},  {Step::kA, 1},     {Step::kB, 1},
                          {Step::kZrqinit, 1}, {Step::kZfile, 1}, {Step::kZdata, 1}, {Step::kZdata, kMiddleBlock},
                          {Step::kZdata, kLastBlock}, {Step::kZeof, 1}, {Step::kZfin, 1}, {Step::kFinal, 1}};
  for (const StepAt& s : steps) {
    for (FaultKind k : answer_kinds) cells.push_back(Expectation(s.step, k, s.block));
    if (IsZmodemStep(s.step))
      for (FaultKind k : header_kinds) cells.push_back(Expectation(s.step, k, s.block));
    for (FaultKind k : line_kinds) cells.push_back(Expectation(s.step, k, s.block));
  }
  for (FaultKind k : {FaultKind::kNoSuccess, FaultKind::kNulBeforeSuccess, FaultKind::kNegative, FaultKind::kEarly,
                      FaultKind::kDribble, FaultKind::kEscape})
    cells.push_back(Expectation(Step::kFinal, k, 1));
  return cells;
}

std::string Text(unsigned id) {
  char buffer[256];
  LoadText(id, buffer, sizeof buffer);
  return buffer;
}

int CountOf(const std::string& haystack, const std::string& needle) {
  int n = 0;
  for (auto at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + needle.size())) ++n;
  return n;
}

class FaultMatrixTest : public ::testing::TestWithParam<Cell> {
 protected:
  void SetUp() override {
    sim::ModemOptions options;
    options.expected_image = MatrixImage();
    options.faults = {GetParam().fault};
    options.command_latency_ms = 20;
    options.final_pause_ms = 2000;
    options.late_ms = kLateMs;
    modem_ = std::make_unique<sim::SimulatedModemBackend>(options);
    seams_.Begin(*modem_, resources_, window_, &no_list_);
  }
  void TearDown() override { seams_.End(); }
  Session& session() { return *seams_.session; }
  CommPort& port() { return seams_.session->Port(); }
  SenderThread& sender() { return seams_.session->Sender(); }
  SessionMonitor& monitor() { return seams_.session->Monitor(); }

  DiagRecorder diags_;
  NoInstalledModems no_list_;
  TestResources resources_{MatrixImage()};
  RecordingWindow window_;
  std::unique_ptr<sim::SimulatedModemBackend> modem_;
  SessionSeams seams_;
};

TEST_P(FaultMatrixTest, OutcomeAbortStopAndCleanUp) {
  const Cell& cell = GetParam();
  const auto run_start = std::chrono::steady_clock::now();

  session().SetupCommPort();
  const bool started = session().SessionMonitorExists();
  if (started) {
    // Let a late command answer arrive before the user starts, as a user
    // reading the pane would. It is due kLateMs after the limit of the wait
    // that has ended before this point, so no delay can make it come later.
    const bool late_command = cell.fault.kind == FaultKind::kLate &&
                              (cell.fault.step == Step::kAtD || cell.fault.step == Step::kA);
    SleepMs(late_command ? kLateMs + 1000 : 6000);
    // The window's start handler: the four buttons off, then the event.
    for (int id : {1006, 1007, 1012, 1}) window_.EnableButton(id, false);
    session().SignalStartUpdate();
    ASSERT_TRUE(window_.WaitForRest(300000)) << "the session did not come to rest";
    ASSERT_TRUE(session().SenderThreadHandle());
  }

  const std::string log = window_.LogText();
  // A failure report is whole: 2008, the one line that says why, the hint.
  const std::string failure = Text(2008) + cell.cause + Text(2001) + Text(2002);
  const int failures = CountOf(log, failure);
  EXPECT_EQ(CountOf(log, "Ursache: "), CountOf(log, Text(2008))) << log;
  const bool success = log.find(Text(2007)) != std::string::npos;

  // Every append is in the pane, in order, nothing lost or merged.
  std::string joined;
  for (const std::string& a : window_.Appends()) joined += a;
  EXPECT_EQ(joined, log);
  ASSERT_EQ(log.rfind(Text(2009) + Text(2010), 0), 0u) << log;
  EXPECT_EQ(CountOf(log, Text(2004)), cell.no_answer) << log;
  if (cell.fault.kind == FaultKind::kDribble) {
    // What had come by the limit is shown (the loader's dots, some 240 of
    // them) and judged, right before the failure.
    EXPECT_NE(log.find(Text(2034) + std::string(100, '.')), std::string::npos) << log;
    EXPECT_NE(log.find("." + Text(2008)), std::string::npos) << log;
  }
  if (cell.expect != Expect::kEither) {
    EXPECT_EQ(CountOf(log, Text(2008)), failures) << log;
  }

  switch (cell.expect) {
    case Expect::kNoModem:
      EXPECT_FALSE(started);
      // Then each port the probe tried, and why it passed it over, as it
      // went; the verdict, and where to look for the modem's port, after.
      EXPECT_EQ(log.rfind(Text(2009) + Text(2010) + Text(30), 0), 0u) << log;
      EXPECT_EQ(log.size() - log.rfind(Text(2014) + Text(43)), (Text(2014) + Text(43)).size()) << log;
      break;
    case Expect::kNoMonitor:
      EXPECT_FALSE(started);
      EXPECT_EQ(log, Text(2009) + Text(2010) + Text(2012) + Text(2016));
      break;
    case Expect::kSuccess:
      ASSERT_TRUE(started);
      EXPECT_EQ(monitor().LastOutcome(), Outcome::kSucceeded);
      EXPECT_TRUE(success) << log;
      EXPECT_EQ(failures, 0) << log;
      EXPECT_EQ(modem_->ImageMatched(), std::optional<bool>(true));
      EXPECT_EQ(modem_->ReceivedImage(), MatrixImage());
      EXPECT_NE(log.find("  Name  - bc2780ix.bin\r\n  Datum - Tue Oct 13 16:34:34 1998\r\n"), std::string::npos);
      // The loader's own words are shown, right before the verdict.
      EXPECT_NE(log.find(std::string(sim::ModemModel::SuccessText()) + Text(2007)), std::string::npos) << log;
      break;
    case Expect::kFailure:
      ASSERT_TRUE(started);
      EXPECT_EQ(monitor().LastOutcome(), Outcome::kFailed);
      EXPECT_FALSE(success) << log;
      EXPECT_EQ(failures, cell.failures) << log;
      break;
    case Expect::kEither:
      ASSERT_TRUE(started);
      EXPECT_EQ(CountOf(log, Text(2008)) + (success ? 1 : 0), 1) << log;
      break;
  }
  if (started) {
    EXPECT_NE(log.find(Text(2015)), std::string::npos);
    EXPECT_NE(log.find(Text(2005)), std::string::npos);  // the sender started
    // After an outcome, failure or success, "Hilfe", "Log Speichern" and
    // "Beenden" come back (the log of a failed flash can be saved); "Update
    // Starten" never does.
    const auto history = window_.ButtonHistory();
    ASSERT_FALSE(history.empty());
    EXPECT_EQ(history.back(), std::make_pair(1, true));
    EXPECT_FALSE(window_.ButtonEnabled(1006));
    EXPECT_TRUE(window_.ButtonEnabled(1007));
    EXPECT_TRUE(window_.ButtonEnabled(1012));
  }
  if (cell.aborts >= 0) {
    EXPECT_EQ(modem_->AbortCount(), cell.aborts);
  }

  const auto stop_start = std::chrono::steady_clock::now();
  session().StopSessionMonitor();
  const auto stop_took = std::chrono::steady_clock::now() - stop_start;
  EXPECT_LT(stop_took, std::chrono::milliseconds(5000));
  EXPECT_LT(std::chrono::steady_clock::now() - run_start, std::chrono::seconds(15));

  EXPECT_FALSE(session().SessionMonitorExists());
  EXPECT_FALSE(session().SenderThreadHandle());
  EXPECT_FALSE(port().PortHandle());
  EXPECT_FALSE(modem_->IsOpen());
  EXPECT_FALSE(monitor().QuitMonitorEvent);
  EXPECT_FALSE(monitor().StartUpdateEvent);
  EXPECT_FALSE(sender().QuitSenderEvent);
  if (cell.port_restorable) {
    EXPECT_EQ(modem_->LineState().bytes, sim::SimulatedModemBackend::InitialLineState().bytes);
    EXPECT_EQ(modem_->TimeoutState().bytes, sim::SimulatedModemBackend::InitialTimeouts().bytes);
  }
  // The log did not change after the stop.
  EXPECT_EQ(window_.LogText(), log);
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrixTest, ::testing::ValuesIn(AllCells()),
                         [](const ::testing::TestParamInfo<Cell>& info) { return info.param.name; });

TEST(FaultMatrixCells, EveryCellIsOneTheSimulatorAccepts) {
  const auto cells = AllCells();
  EXPECT_EQ(cells.size(), 109u);
  for (const Cell& c : cells) {
    Fault parsed;
    std::string error;
    EXPECT_TRUE(sim::ParseFault(sim::FaultToString(c.fault), parsed, error)) << c.name << ": " << error;
  }
}

}  // namespace
}  // namespace mfu::test
