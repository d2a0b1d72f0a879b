#include "app/console/console_window.h"

#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cmath>
#include <clocale>
#include <cstring>

#include "ui/cp1252.h"

namespace mfu {

bool TerminalWantsUtf8() {
  // The console's threads do not use the locale: the interrupt thread only
  // waits for signals, and the session's threads format no text through it.
  std::setlocale(LC_CTYPE, "");  // NOLINT(concurrency-mt-unsafe)
  const char* codeset = nl_langinfo(CODESET);  // NOLINT(concurrency-mt-unsafe)
  if (codeset == nullptr) return true;
  // Latin-1 terminals take the bytes as they are; everything else (UTF-8,
  // and the plain C locale, where today's terminals are UTF-8 all the same)
  // gets UTF-8.
  return !(std::strstr(codeset, "8859-1") != nullptr || std::strstr(codeset, "8859-15") != nullptr ||
           std::strstr(codeset, "1252") != nullptr);
}

ConsoleWindow::ConsoleWindow(std::FILE* out, std::FILE* in, std::FILE* bar, bool utf8, bool progress)
    : out_(out), in_(in), bar_(bar), utf8_(utf8), progress_(progress) {
  // Anything stdio still holds goes first: from now on the queue writes to
  // the descriptors directly.
  if (out_ != nullptr) std::fflush(out_);
  if (bar_ != nullptr) std::fflush(bar_);
}

void ConsoleWindow::WriteText(const std::string& text) {
  ClearBar();
  // Only printable text reaches the terminal: the modem's answers are shown
  // as they came, but an escape sequence in them must not act.
  const std::string printable = Printable(TerminalLineEnds(text, pending_cr_), !utf8_);
  output_.Write(out_, utf8_ ? Cp1252ToUtf8(printable) : printable);
  if (!text.empty()) line_open_ = text.back() != '\n';
  DrawBar();
}

void ConsoleWindow::WriteQuestion(const std::string& text) {
  if (bar_ == nullptr) return WriteText(text);
  ClearBar();
  int no_carry = 0;
  const std::string printable = Printable(TerminalLineEnds(text, no_carry), !utf8_);
  output_.Write(bar_, utf8_ ? Cp1252ToUtf8(printable) : printable);
}

std::string TerminalLineEnds(const std::string& text, int& pending_cr) {
  std::string lines;
  lines.reserve(text.size());
  for (const char c : text) {
    if (c == '\r') {
      ++pending_cr;
      continue;
    }
    // CRs before a line end belong to it; any others stay, as they came.
    if (c != '\n') lines.append(static_cast<std::size_t>(pending_cr), '\r');
    pending_cr = 0;
    lines += c;
  }
  return lines;
}

int TerminalColumns(std::FILE* stream) {
  constexpr int kUnknown = 80;
  const int fd = stream != nullptr ? fileno(stream) : -1;
  winsize size{};
  if (fd < 0 || ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return kUnknown;
  return size.ws_col;
}

void ConsoleWindow::AppendLog(const char* text) {
  std::lock_guard<std::mutex> guard(lock_);
  pane_ += text;
  WriteText(text);
}

std::string ConsoleWindow::LogText() {
  std::lock_guard<std::mutex> guard(lock_);
  return pane_;
}

void ConsoleWindow::EnableButton(int id, bool enable) {
  std::lock_guard<std::mutex> guard(lock_);
  buttons_[id] = enable;
}

bool ConsoleWindow::ButtonEnabled(int id) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = buttons_.find(id);
  return found != buttons_.end() && found->second;
}

void ConsoleWindow::SetAnswerYes(bool yes) {
  std::lock_guard<std::mutex> guard(lock_);
  answer_yes_ = yes;
}



void ConsoleWindow::SetProgressRange(std::uint16_t upper) {
  std::lock_guard<std::mutex> guard(lock_);
  upper_ = upper;
  position_ = 0;
}

void ConsoleWindow::SetProgressStep(int step) {
  std::lock_guard<std::mutex> guard(lock_);
  step_ = step;
}

void ConsoleWindow::StepProgress() {
  std::lock_guard<std::mutex> guard(lock_);
  // The bar wraps at its end, as the progress control does.
  position_ += step_;
  if (position_ > upper_) position_ = 0;
  sent_ += step_;
  const auto now = std::chrono::steady_clock::now();
  if (!bar_shown_) started_ = now;
  last_step_ = now;
  bar_shown_ = true;
  if (closed_ || finished_ || bar_ == nullptr) return;
  const int upper = upper_ > 0 ? upper_ : 1;
  if (!progress_) {
    // No terminal to draw on (a log file, a pipe): one line per tenth.
    const int tenth = position_ * 10 / upper;
    if (tenth > last_tenth_) {
      last_tenth_ = tenth;
      output_.Write(bar_, ProgressText(false) + "\n");
    }
    return;
  }
  // At most four redraws a second; the last block always shows.
  if (now - last_draw_ < std::chrono::milliseconds(250) && position_ != upper_) return;
  DrawBar();
}

std::string ConsoleWindow::ProgressText(bool with_bar) {
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  return FormatProgress(position_, upper_, elapsed, with_bar, with_bar ? TerminalColumns(bar_) : 0);
}

void ConsoleWindow::ShowWaiting(const char* what, int seconds_left) {
  std::lock_guard<std::mutex> guard(lock_);
  waiting_ = what != nullptr ? what : "";
  waiting_left_ = seconds_left > 0 ? seconds_left : 0;
  // The progress bar, once there, keeps its line.
  if (bar_shown_) return;
  if (waiting_left_ == 0) {
    ClearBar();
    return;
  }
  DrawBar();
}

std::string FormatWaiting(const std::string& what, int seconds_left, int columns) {
  char left[32];
  std::snprintf(left, sizeof left, "  noch %d:%02d", seconds_left / 60, seconds_left % 60);
  const std::size_t tail = std::strlen(left);
  std::string line = what;
  const long room = columns > 0 ? columns - 1 : 0;
  if (room > 0 && static_cast<long>(line.size() + tail) > room) {
    line.resize(room > static_cast<long>(tail) ? static_cast<std::size_t>(room) - tail : 0);
  }
  line.append(left, tail);
  if (room > 0 && static_cast<long>(line.size()) > room) line.resize(static_cast<std::size_t>(room));
  return line;
}

void ConsoleWindow::DrawBar() {
  // The bar stands on a line of its own below the text: never behind a line
  // the text has left open (it would be wiped with the bar), never beside a
  // question, and not after the outcome. Before the first block the line
  // shows the countdown of a wait, if one runs.
  const bool counting = !bar_shown_ && waiting_left_ > 0;
  if (!progress_ || !(bar_shown_ || counting) || closed_ || finished_ || asking_ || line_open_ || bar_ == nullptr) {
    return;
  }
  std::string line = "\r";  // appended, not "\r" + ...: GCC 12 at -O3 warns falsely (-Wrestrict) on that
  line += counting ? FormatWaiting(Printable(waiting_, !utf8_), waiting_left_, TerminalColumns(bar_)) : ProgressText(true);
  line += "\033[K";
  output_.Write(bar_, line, /*redraw=*/true);
  bar_drawn_ = true;
  last_draw_ = std::chrono::steady_clock::now();
}

void ConsoleWindow::ClearBar() {
  // Only a bar that stands on the line is wiped, never the line's text.
  if (!bar_drawn_ || bar_ == nullptr) return;
  bar_drawn_ = false;
  output_.Write(bar_, "\r\033[K");
}

void ConsoleWindow::SessionRests() {
  {
    // The outcome is told: the verdict and its hint stay the last lines.
    std::lock_guard<std::mutex> guard(lock_);
    finished_ = true;
    ClearBar();
  }
  if (rests_hook_) rests_hook_();
}

void ConsoleWindow::ShowSummary() {
  std::lock_guard<std::mutex> guard(lock_);
  if (!bar_shown_) return;
  std::FILE* const stream = bar_ != nullptr ? bar_ : out_;
  if (stream == nullptr) return;
  ClearBar();
  const int blocks = std::min(sent_, static_cast<int>(upper_));
  output_.Write(stream, FormatSummary(blocks, std::chrono::duration<double>(last_step_ - started_).count()) + "\n");
}

std::string FormatSummary(int blocks, double seconds) {
  const long whole = std::lround(seconds);
  const double kib = blocks * 0.5;
  const long tenths = seconds > 0.0 ? std::lround(kib / seconds * 10) : 0;
  char line[96];
  std::snprintf(line, sizeof line, "%.0f KiB in %ld:%02ld, %ld,%ld KiB/s", kib, whole / 60, whole % 60, tenths / 10,
                tenths % 10);
  return std::string(line);
}

std::string FormatProgress(int position, int upper, double elapsed_seconds, bool with_bar, int columns) {
  constexpr int kWidth = 20;
  constexpr int kNarrowest = 5;
  constexpr double kBlockKiB = 0.5;  // a data block is 512 bytes
  if (upper <= 0) upper = 1;
  if (position < 0) position = 0;
  if (position > upper) position = upper;
  // Written into one buffer: GCC 12 at -O3 warns falsely (-Wrestrict) on
  // std::string assignments and concatenations of this shape.
  char text[128];
  std::size_t t = 0;
  const double done = position * kBlockKiB;
  const double total = upper * kBlockKiB;
  t += static_cast<std::size_t>(
      std::snprintf(text, sizeof text, "%3d %%  %.0f/%.0f KiB", position * 100 / upper, done, total));
  if (position > 0 && elapsed_seconds > 0.0 && t < sizeof text) {
    const double rate = done / elapsed_seconds;
    const long tenths = std::lround(rate * 10);
    const long left = std::lround((total - done) / rate);
    // German numbers: a decimal comma.
    std::snprintf(text + t, sizeof text - t, "  %ld,%ld KiB/s  noch %ld:%02ld", tenths / 10, tenths % 10, left / 60,
                  left % 60);
  }
  std::size_t text_length = std::strlen(text);
  // The last column stays free: a line that fills it makes some terminals
  // wrap, and every redraw would then add a line.
  const long room = columns > 0 ? columns - 1 : 0;
  int width = kWidth;
  if (room > 0) {
    width = static_cast<int>(std::min<long>(kWidth, room - static_cast<long>(text_length) - 4));  // "[", "]", 2 blanks
    if (width < kNarrowest) width = 0;
    if (static_cast<long>(text_length) > room) text_length = static_cast<std::size_t>(room);
  }
  char line[160];
  std::size_t n = 0;
  if (with_bar && width > 0) {
    const int filled = position * width / upper;
    line[n++] = '[';
    for (int i = 0; i < width; ++i) line[n++] = i < filled ? '#' : '.';
    for (const char c : {']', ' ', ' '}) line[n++] = c;
  }
  std::string result(line, n);
  result.append(text, text_length);
  return result;
}

bool ConsoleWindow::AskYesNo(const char* text) {
  std::lock_guard<std::mutex> question(question_lock_);  // one question at a time
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (closed_) return false;
    if (answer_yes_) return true;
    asking_ = true;  // the bar is wiped and stays away: it would share the prompt's line
    WriteQuestion(std::string(text) + " (j/n) ");
  }
  // The lock is not held while the user thinks: the session goes on as it
  // does behind the window's message box (a transfer that stalled on its
  // progress step until the answer came could outlast the modem's patience).
  char answer[64];
  const bool answered = ReadAnswer(answer, sizeof answer);
  std::lock_guard<std::mutex> guard(lock_);
  asking_ = false;
  if (!answered) {
    WriteQuestion("\n");
    return false;  // no answer is no Yes
  }
  if (bar_ == nullptr) line_open_ = false;  // the user's Enter ended the prompt's line
  DrawBar();
  const char c = answer[0];
  return c == 'j' || c == 'J' || c == 'y' || c == 'Y';
}

bool ConsoleWindow::ReadAnswer(char* answer, std::size_t size) {
  if (in_ == nullptr) return false;
  const int fd = fileno(in_);
  if (fd < 0 || interrupt_fd_ < 0) return std::fgets(answer, static_cast<int>(size), in_) != nullptr;
  // Byte by byte from the descriptor, so that nothing of the next answer is
  // left in a stdio buffer while we wait on the interrupt as well.
  std::size_t n = 0;
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {interrupt_fd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if ((fds[1].revents & POLLIN) != 0) {
      DrainFd(interrupt_fd_);
      return false;
    }
    if (fds[0].revents == 0) continue;
    char c = 0;
    const ssize_t got = read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      answer[n] = '\0';
      return n > 0;  // a last line without its newline still counts
    }
    if (n + 1 < size) answer[n++] = c;
    if (c == '\n') {
      answer[n] = '\0';
      return true;
    }
  }
}

bool DrainFd(int fd) {
  bool any = false;
  char bytes[64];
  for (;;) {
    const ssize_t got = read(fd, bytes, sizeof bytes);
    if (got > 0) {
      any = true;
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    return any;  // 0 (closed) or EAGAIN: nothing more
  }
}

void ConsoleWindow::ShowNotice(const char* text) {
  std::lock_guard<std::mutex> guard(lock_);
  if (closed_) return;
  WriteText(std::string(text) + "\n");
}

bool ConsoleWindow::ChooseFile(FileDialogRequest&) { return false; }

void ConsoleWindow::Close() {
  std::lock_guard<std::mutex> guard(lock_);
  // The bar goes: what is said while the program ends (a cancel's report)
  // and the last text stay on screen whole.
  ClearBar();
  closed_ = true;
}

}  // namespace mfu
