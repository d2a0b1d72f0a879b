// The console front-end's window: the log pane is written to stdout as it
// grows (converted to the terminal's encoding, its lines ending in LF alone),
// questions are shown on stderr (so that `> file` keeps them in sight) and
// answered on stdin, the progress bar is drawn on stderr on a line of its own
// below the text when stderr is a terminal, as wide as the terminal allows
// (else a plain line every tenth), and the buttons are state that the
// console reads. Thread-safe: the session's
// threads call it directly.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "app/console/console_output.h"
#include "ui/window.h"

namespace mfu {

class ConsoleWindow : public Window {
 public:
  // `utf8`: convert the pane's Windows-1252 texts to UTF-8 for output (else
  // they are written as they are). `progress`: draw the bar on `bar`.
  // Questions go to `bar` as well (to `out` when there is no `bar`).
  ConsoleWindow(std::FILE* out, std::FILE* in, std::FILE* bar, bool utf8, bool progress);

  // A descriptor that becomes readable when the user interrupts (Ctrl-C):
  // an open question then ends at once with No, and the bytes waiting on it
  // are consumed. Questions on a stream without a descriptor (fmemopen) are
  // read with fgets and cannot be interrupted. Set before any question.
  void SetInterruptFd(int fd) { interrupt_fd_ = fd; }

  // While set, a question is answered Yes at once and not shown (--yes for
  // the start question).
  void SetAnswerYes(bool yes);

  // Called (on the session monitor thread) when the session has nothing left
  // to do; it must not block. Set before the session starts.
  void SetSessionRestsHook(std::function<void()> hook) { rests_hook_ = std::move(hook); }

  // The buttons as the dialog and the session left them (false until set).
  bool ButtonEnabled(int id);

  void AppendLog(const char* text) override;
  std::string LogText() override;
  void EnableButton(int id, bool enable) override;
  void SetProgressRange(std::uint16_t upper) override;
  void SetProgressStep(int step) override;
  void StepProgress() override;
  bool AskYesNo(const char* text) override;
  void ShowNotice(const char* text) override;
  bool ChooseFile(FileDialogRequest& request) override;
  void SessionRests() override;
  // The countdown of a wait, on the bar's line (a terminal only) while no
  // progress bar stands there: "/dev/ttyUSB0: at@d  noch 0:49".
  void ShowWaiting(const char* what, int seconds_left) override;

  // After a success: the transfer's size, time and rate on a line of its own
  // that stays ("364 KiB in 4:31, 1,3 KiB/s"), where the bar was. Nothing
  // when no block went out. Also after Close.
  void ShowSummary();

  // After this, questions answer No and nothing more is drawn (the program
  // is ending).
  void Close();

  // Waits up to `limit` real ms until what was shown so far is written out.
  bool Flush(Millis limit = 5000) { return output_.Flush(limit); }

 private:
  void WriteText(const std::string& text);  // lock held
  void WriteQuestion(const std::string& text);  // lock held
  void DrawBar();                           // lock held
  std::string ProgressText(bool with_bar);  // lock held
  void ClearBar();                          // lock held
  // Reads the answer line; false on end of input or an interrupt.
  bool ReadAnswer(char* answer, std::size_t size);  // lock held

  std::mutex lock_;
  std::FILE* const out_;
  std::FILE* const in_;
  std::FILE* const bar_;
  const bool utf8_;
  const bool progress_;
  std::string pane_;
  std::map<int, bool> buttons_;
  std::uint16_t upper_ = 100;
  int step_ = 10;
  int position_ = 0;
  bool bar_shown_ = false;  // the first step has come: the bar is wanted
  bool bar_drawn_ = false;  // the bar stands on the terminal's last line
  bool line_open_ = false;  // the last text left its line open (no line end)
  bool finished_ = false;   // the session rests: the bar is not drawn again
  int last_tenth_ = 0;      // without a terminal: the last tenth reported
  int sent_ = 0;            // every step so far, without the bar's wrap
  int pending_cr_ = 0;      // CRs at the end of the last text: a line end's, or not
  std::chrono::steady_clock::time_point started_;    // the first step
  std::chrono::steady_clock::time_point last_step_;  // the latest step
  std::chrono::steady_clock::time_point last_draw_;  // the last redraw
  std::string waiting_;      // what the countdown waits for
  int waiting_left_ = 0;     // its seconds left; 0: no countdown
  bool closed_ = false;
  bool asking_ = false;  // a question waits for its answer
  bool answer_yes_ = false;
  int interrupt_fd_ = -1;
  std::function<void()> rests_hook_;
  std::mutex question_lock_;  // one question at a time; taken before lock_
  ConsoleOutput output_;      // last: its writer ends before the rest goes
};

// The progress as the console shows it, German number format:
// "[##########..........]  42 %  153/364 KiB  5,2 KiB/s  noch 2:31" (without
// the bar: from the percentage on). Rate and time left once a block is out.
// With `columns` (the terminal's width, 0 for no limit) the line stays within
// columns - 1 characters: the bar narrows, goes when it would be shorter
// than 5 marks, and the text is cut last.
std::string FormatProgress(int position, int upper, double elapsed_seconds, bool with_bar, int columns = 0);

// The countdown's line: "WHAT  noch M:SS", within columns - 1 characters
// (0: no limit), the end of WHAT cut first.
std::string FormatWaiting(const std::string& what, int seconds_left, int columns = 0);

// The line that stays after a success: "364 KiB in 4:31, 1,3 KiB/s" for
// `blocks` half-KiB blocks in `seconds`.
std::string FormatSummary(int blocks, double seconds);

// The pane's line ends as a terminal program writes them: CR LF and CR CR LF
// become LF. `pending_cr` carries CRs at the end of one text over to the
// next, which decides whether they end a line.
std::string TerminalLineEnds(const std::string& text, int& pending_cr);

// The width of the terminal behind `stream` (TIOCGWINSZ), 80 when it has
// none or does not say.
int TerminalColumns(std::FILE* stream);

// Consumes what is waiting on a non-blocking descriptor; true if there was
// anything.
bool DrainFd(int fd);

// Whether the terminal's character set (LC_CTYPE of the environment) takes
// the Windows-1252 bytes as they are (a Latin-1 family set); else UTF-8.
bool TerminalWantsUtf8();

}  // namespace mfu
