// The console window's questions: answers read from a descriptor, and Ctrl-C
// (a byte on the interrupt descriptor) ending an open question with No.
#include "app/console/console_window.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace mfu {
namespace {

using namespace std::chrono_literals;

struct Pipe {
  int fds[2] = {-1, -1};
  explicit Pipe(int flags = 0) { EXPECT_EQ(pipe2(fds, O_CLOEXEC | flags), 0); }
  ~Pipe() {
    for (int fd : fds)
      if (fd >= 0) close(fd);
  }
  void Write(const std::string& s) const { ASSERT_EQ(write(fds[1], s.data(), s.size()), static_cast<ssize_t>(s.size())); }
  void CloseWriter() {
    close(fds[1]);
    fds[1] = -1;
  }
};

std::string ReadAll(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  int c = 0;
  while ((c = std::fgetc(file)) != EOF) text += static_cast<char>(c);
  return text;
}

class ConsoleQuestionTest : public ::testing::Test {
 protected:
  explicit ConsoleQuestionTest(bool progress = false)
      : in_file_(fdopen(dup(input_.fds[0]), "r")),
        out_(std::tmpfile()),
        bar_(progress ? std::tmpfile() : nullptr),
        window_(out_, in_file_, bar_, /*utf8=*/false, progress) {
    window_.SetInterruptFd(interrupt_.fds[0]);
  }
  ~ConsoleQuestionTest() override {
    window_.Flush();  // nothing left to write once the streams are gone
    std::fclose(in_file_);
    std::fclose(out_);
    if (bar_ != nullptr) std::fclose(bar_);
  }
  std::string Output() {
    window_.Flush();
    return ReadAll(out_);
  }
  std::string Bar() {
    window_.Flush();
    return ReadAll(bar_);
  }

  Pipe input_;
  Pipe interrupt_{O_NONBLOCK};
  std::FILE* in_file_;
  std::FILE* out_;
  std::FILE* bar_;
  ConsoleWindow window_;
};

TEST_F(ConsoleQuestionTest, AnswersAreReadLineByLineAndOnlyJOrYIsYes) {
  input_.Write("j\nn\nYes\nJa\n\nx\n");
  EXPECT_TRUE(window_.AskYesNo("Q1"));
  EXPECT_FALSE(window_.AskYesNo("Q2"));
  EXPECT_TRUE(window_.AskYesNo("Q3"));
  EXPECT_TRUE(window_.AskYesNo("Q4"));
  EXPECT_FALSE(window_.AskYesNo("Q5"));  // an empty line
  EXPECT_FALSE(window_.AskYesNo("Q6"));
  EXPECT_EQ(Output(), "Q1 (j/n) Q2 (j/n) Q3 (j/n) Q4 (j/n) Q5 (j/n) Q6 (j/n) ");
}

TEST_F(ConsoleQuestionTest, AnAnswerThatArrivesInPiecesIsOneAnswer) {
  auto answer = std::async(std::launch::async, [&] { return window_.AskYesNo("Q"); });
  input_.Write("j");
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(answer.wait_for(0ms), std::future_status::timeout);
  input_.Write("a\n");
  ASSERT_EQ(answer.wait_for(2s), std::future_status::ready);
  EXPECT_TRUE(answer.get());
}

TEST_F(ConsoleQuestionTest, EndOfInputIsNoAndALastLineWithoutNewlineCounts) {
  input_.Write("j");
  input_.CloseWriter();
  EXPECT_TRUE(window_.AskYesNo("Q1"));
  EXPECT_FALSE(window_.AskYesNo("Q2"));
  EXPECT_EQ(Output(), "Q1 (j/n) Q2 (j/n) \n");
}

TEST_F(ConsoleQuestionTest, AnInterruptEndsAnOpenQuestionWithNoAtOnce) {
  auto answer = std::async(std::launch::async, [&] { return window_.AskYesNo("Q"); });
  std::this_thread::sleep_for(50ms);
  ASSERT_EQ(answer.wait_for(0ms), std::future_status::timeout);
  interrupt_.Write("\x01\x01");
  ASSERT_EQ(answer.wait_for(2s), std::future_status::ready);
  EXPECT_FALSE(answer.get());
  // Both bytes were consumed: the next interrupt starts from nothing, and
  // the next question reads the next answer.
  EXPECT_FALSE(DrainFd(interrupt_.fds[0]));
  input_.Write("j\n");
  EXPECT_TRUE(window_.AskYesNo("Q"));
}

TEST_F(ConsoleQuestionTest, AnswersAfterCloseAreNoWithoutReading) {
  input_.Write("j\n");
  window_.Close();
  EXPECT_FALSE(window_.AskYesNo("Q"));
  EXPECT_EQ(Output(), "");
}

// The progress bar shares the terminal with the log and the questions.
class ConsoleBarTest : public ConsoleQuestionTest {
 protected:
  ConsoleBarTest() : ConsoleQuestionTest(/*progress=*/true) {}
};

TEST_F(ConsoleBarTest, TheSessionGoesOnWhileAQuestionWaitsAndTheBarKeepsOffItsLine) {
  window_.SetProgressRange(4);
  window_.SetProgressStep(1);
  window_.StepProgress();
  const std::string before = Bar();
  EXPECT_EQ(before.rfind("\r[#####...............]   25 %  0/2 KiB", 0), 0u) << before;

  auto answer = std::async(std::launch::async, [&] { return window_.AskYesNo("Abbrechen ?"); });
  // The question is open once the bar's wipe is out (its file grows by it;
  // the stream itself is left alone while the asking thread writes to it).
  const auto until = std::chrono::steady_clock::now() + 10s;
  for (;;) {
    window_.Flush();
    struct stat st {};
    ASSERT_EQ(fstat(fileno(bar_), &st), 0);
    if (static_cast<std::size_t>(st.st_size) >= before.size() + 4) break;
    ASSERT_LT(std::chrono::steady_clock::now(), until) << "the question never wiped the bar";
    std::this_thread::sleep_for(1ms);
  }
  // The bar was wiped before the prompt; the session's steps and log lines
  // during the question neither wait for the answer nor draw the bar.
  auto session = std::async(std::launch::async, [&] {
    window_.StepProgress();
    window_.AppendLog("Zeile\r\n");
  });
  ASSERT_EQ(session.wait_for(2s), std::future_status::ready) << "the session waited for the answer";
  // The prompt stands on the terminal's stream, not in stdout's file.
  const std::string prompt = "\r\033[KAbbrechen ? (j/n) ";
  EXPECT_EQ(Bar(), before + prompt);
  EXPECT_EQ(Output(), "Zeile\n");
  EXPECT_EQ(answer.wait_for(0ms), std::future_status::timeout);

  input_.Write("n\n");
  ASSERT_EQ(answer.wait_for(2s), std::future_status::ready);
  EXPECT_FALSE(answer.get());
  // Answered: the bar comes back below, at the step it has reached.
  const std::string after = Bar().substr(before.size() + prompt.size());
  EXPECT_EQ(after.rfind("\r[##########..........]   50 %  1/2 KiB", 0), 0u) << after;
  EXPECT_EQ(window_.LogText(), "Zeile\r\n");
}

// Nothing the tool says is wiped with the bar: a line left open (the retry
// hint comes in two texts) keeps the bar away until it ends, and once the
// session rests the bar is gone for good, so the verdict stays last.
TEST_F(ConsoleBarTest, TheBarNeverSharesALineWithTextAndGoesWithTheOutcome) {
  window_.SetProgressRange(4);
  window_.SetProgressStep(1);
  window_.AppendLog("Sie k\xF6nnen noch mal probieren, ");
  window_.StepProgress();
  EXPECT_EQ(Bar(), "");
  window_.AppendLog(" und dann dieses Program neu starten.\r\n");
  const std::string drawn = Bar();
  EXPECT_EQ(drawn.rfind("\r[#####", 0), 0u) << drawn;
  window_.SessionRests();
  window_.StepProgress();
  window_.AppendLog("\r\nUpdate ist fehlgeschlagen.\r\n");
  EXPECT_EQ(Bar(), drawn + "\r\033[K");
  EXPECT_EQ(Output(), "Sie k\xF6nnen noch mal probieren,  und dann dieses Program neu starten.\n"
                      "\nUpdate ist fehlgeschlagen.\n");
}

// A wait counts down on the bar's line, below the text, never beside a
// question; 0 wipes it, and the progress bar, once there, keeps the line.
TEST_F(ConsoleBarTest, AWaitCountsDownOnTheBarsLineUntilItEnds) {
  window_.AppendLog("Suchen ...\r\n");
  window_.ShowWaiting("/dev/ttyUSB0: at@d", 52);
  EXPECT_EQ(Bar(), "\r/dev/ttyUSB0: at@d  noch 0:52\033[K");
  window_.ShowWaiting("/dev/ttyUSB0: at@d", 51);
  const std::string counted = Bar();
  EXPECT_EQ(counted, "\r/dev/ttyUSB0: at@d  noch 0:52\033[K\r/dev/ttyUSB0: at@d  noch 0:51\033[K");
  window_.AppendLog("Keine Antwort\r\n");  // the line is wiped for the text, then drawn again below it
  EXPECT_EQ(Bar(), counted + "\r\033[K\r/dev/ttyUSB0: at@d  noch 0:51\033[K");
  window_.ShowWaiting("/dev/ttyUSB0: at@d", 0);
  const std::string ended = Bar();
  EXPECT_EQ(ended.substr(ended.size() - 4), "\r\033[K");
  window_.AppendLog("mehr\r\n");
  EXPECT_EQ(Bar(), ended);  // not drawn again once over
  window_.SetProgressRange(4);
  window_.SetProgressStep(1);
  window_.StepProgress();
  window_.ShowWaiting("COM1", 9);
  EXPECT_EQ(Bar().find("noch 0:09"), std::string::npos);
  EXPECT_EQ(Output(), "Suchen ...\nKeine Antwort\nmehr\n");
}

TEST(ConsoleProgress, TheCountdownLineStaysWithinTheTerminal) {
  EXPECT_EQ(FormatWaiting("COM1", 125), "COM1  noch 2:05");
  EXPECT_EQ(FormatWaiting("/dev/serial/by-id/usb-x-if00: ati4", 3, 20), "/dev/ser  noch 0:03");
  EXPECT_EQ(FormatWaiting("COM1", 3, 8).size(), 7u);
}

TEST(ConsoleProgress, GermanNumbersRateAndTimeLeft) {
  EXPECT_EQ(FormatProgress(306, 728, 30.0, true), "[########............]   42 %  153/364 KiB  5,1 KiB/s  noch 0:41");
  EXPECT_EQ(FormatProgress(0, 728, 0.0, true), "[....................]    0 %  0/364 KiB");
  EXPECT_EQ(FormatProgress(728, 728, 280.0, false), "100 %  364/364 KiB  1,3 KiB/s  noch 0:00");
  // The line keeps off the terminal's last column: the bar narrows, then
  // goes, and the text is cut last.
  EXPECT_EQ(FormatProgress(306, 728, 30.0, true, 80), "[########............]   42 %  153/364 KiB  5,1 KiB/s  noch 0:41");
  EXPECT_EQ(FormatProgress(306, 728, 30.0, true, 60), "[######.........]   42 %  153/364 KiB  5,1 KiB/s  noch 0:41");
  EXPECT_EQ(FormatProgress(306, 728, 30.0, true, 50), "[##...]   42 %  153/364 KiB  5,1 KiB/s  noch 0:41");
  EXPECT_EQ(FormatProgress(306, 728, 30.0, true, 48), " 42 %  153/364 KiB  5,1 KiB/s  noch 0:41");
  EXPECT_EQ(FormatProgress(306, 728, 30.0, true, 20), " 42 %  153/364 KiB ");
  EXPECT_EQ(FormatSummary(728, 271.4), "364 KiB in 4:31, 1,3 KiB/s");
  EXPECT_EQ(FormatSummary(2, 0.0), "1 KiB in 0:00, 0,0 KiB/s");
}

TEST(ConsoleProgress, LineEndsBecomeLfAlsoWhenSplitAcrossTexts) {
  int carry = 0;
  EXPECT_EQ(TerminalLineEnds("a\r\r\nb\r\nc\rd\r", carry), "a\nb\nc\rd");
  EXPECT_EQ(carry, 1);
  EXPECT_EQ(TerminalLineEnds("\r\ne\r", carry), "\ne");
  EXPECT_EQ(TerminalLineEnds("f", carry), "\rf");
  EXPECT_EQ(carry, 0);
}

// After a success the bar gives way to one line that stays; a file has no
// width, so the bar is 80 columns' worth there.
TEST_F(ConsoleBarTest, ASuccessLeavesOneSummaryLine) {
  window_.SetProgressRange(4);
  window_.SetProgressStep(1);
  for (int i = 0; i < 6; ++i) window_.StepProgress();  // past its end: the bar wraps, the summary does not
  window_.SessionRests();
  window_.Close();
  window_.ShowSummary();
  const std::string bar = Bar();
  const std::string summary = bar.substr(bar.rfind("\033[K") + 3);
  EXPECT_EQ(summary.rfind("2 KiB in 0:00, ", 0), 0u) << bar;
  EXPECT_EQ(summary.back(), '\n');
  EXPECT_EQ(Output(), "");
  EXPECT_EQ(TerminalColumns(bar_), 80);
}

// A terminal that stops reading (Ctrl-S, a stalled link) must not hold up the
// session's threads: their texts and steps are queued, and come out whole
// and in order once it reads again.
TEST(ConsoleWindowTest, AStoppedTerminalHoldsUpNoCaller) {
  Pipe stalled;
  std::FILE* out = fdopen(dup(stalled.fds[1]), "w");
  ASSERT_NE(out, nullptr);
  stalled.CloseWriter();
  std::string full(1 << 20, 'x');  // fill the pipe: nobody reads it yet
  const int flags = fcntl(fileno(out), F_GETFL);
  fcntl(fileno(out), F_SETFL, flags | O_NONBLOCK);
  while (write(fileno(out), full.data(), full.size()) > 0) {
  }
  fcntl(fileno(out), F_SETFL, flags);
  std::string drained;
  {
    ConsoleWindow window(out, nullptr, nullptr, false, false);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000; ++i) window.AppendLog(("Zeile " + std::to_string(i) + "\r\n").c_str());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "a caller waited for the terminal";
    EXPECT_FALSE(window.Flush(100));
    // The terminal reads again: everything comes out.
    char buffer[65536];
    while (!window.Flush(10)) {
      const ssize_t n = read(stalled.fds[0], buffer, sizeof buffer);
      if (n > 0) drained.append(buffer, static_cast<std::size_t>(n));
    }
    ssize_t n = 0;
    fcntl(stalled.fds[0], F_SETFL, O_NONBLOCK);
    while ((n = read(stalled.fds[0], buffer, sizeof buffer)) > 0) drained.append(buffer, static_cast<std::size_t>(n));
  }
  std::fclose(out);
  const std::string lines = drained.substr(drained.find("Zeile 0"));
  EXPECT_EQ(lines.rfind("Zeile 0\nZeile 1\n", 0), 0u);
  EXPECT_NE(lines.find("Zeile 998\nZeile 999\n"), std::string::npos);
}

TEST(ConsoleProgress, WithoutATerminalAPlainLineEveryTenth) {
  std::FILE* bar = std::tmpfile();
  ConsoleWindow window(nullptr, nullptr, bar, false, /*progress=*/false);
  window.SetProgressRange(100);
  window.SetProgressStep(1);
  for (int i = 0; i < 100; ++i) window.StepProgress();
  ASSERT_TRUE(window.Flush());
  const std::string lines = ReadAll(bar);
  int count = 0;
  for (char c : lines) count += c == '\n' ? 1 : 0;
  EXPECT_EQ(count, 10) << lines;
  EXPECT_EQ(lines.rfind(" 10 %  5/50 KiB", 0), 0u) << lines;
  EXPECT_EQ(lines.find('['), std::string::npos);
  std::fclose(bar);
}

TEST(ConsoleWindowTest, AStreamWithoutDescriptorIsReadWithFgets) {
  char text[] = "j\n";
  std::FILE* in = fmemopen(text, 2, "r");
  ASSERT_NE(in, nullptr);
  std::FILE* out = std::tmpfile();
  ConsoleWindow window(out, in, nullptr, false, false);
  window.SetInterruptFd(0);  // never polled for a stream without a descriptor
  EXPECT_TRUE(window.AskYesNo("Q"));
  EXPECT_FALSE(window.AskYesNo("Q"));
  ASSERT_TRUE(window.Flush());  // the prompts are out before the stream goes
  std::fclose(in);
  std::fclose(out);
}

TEST(ConsoleWindowTest, LogTextIsConvertedForTheTerminalButKeptAsWindows1252) {
  std::FILE* out = std::tmpfile();
  ConsoleWindow window(out, nullptr, nullptr, /*utf8=*/true, false);
  // The modem's answers come as they are; an escape sequence or a bell in
  // them is shown, not obeyed.
  window.AppendLog("Update l\xE4uft ...\r\r\n\x1b[2J\x07\x90.");
  EXPECT_EQ(window.LogText(), "Update l\xE4uft ...\r\r\n\x1b[2J\x07\x90.");
  ASSERT_TRUE(window.Flush());
  std::rewind(out);
  char shown[64] = {};
  ASSERT_GT(std::fread(shown, 1, sizeof shown - 1, out), 0u);
  EXPECT_EQ(std::string(shown), "Update l\xC3\xA4uft ...\n^[[2J^G<90>.");
  std::fclose(out);
}

}  // namespace
}  // namespace mfu
