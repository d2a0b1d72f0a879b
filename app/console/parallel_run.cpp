#include "app/console/parallel_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "app/console/console_window.h"
#include "app/exit_status.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "ui/cp1252.h"
#include "ui/log.h"
#include "ui/log_export.h"
#include "ui/log_file.h"

namespace mfu {

ProgressReportingWindow::ProgressReportingWindow(Window& inner, int fd) : inner_(inner), fd_(fd) {
  // A parent that stops reading must never hold up the flash.
  if (fd_ >= 0) {
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    fcntl(fd_, F_SETFD, FD_CLOEXEC);
  }
}

ProgressReportingWindow::~ProgressReportingWindow() {
  if (fd_ >= 0) close(fd_);
}

void ProgressReportingWindow::SetProgressRange(std::uint16_t upper) {
  inner_.SetProgressRange(upper);
  std::lock_guard<std::mutex> guard(lock_);
  upper_ = upper;
  position_ = 0;
  Report();
}

void ProgressReportingWindow::SetProgressStep(int step) {
  inner_.SetProgressStep(step);
  std::lock_guard<std::mutex> guard(lock_);
  step_ = step;
}

void ProgressReportingWindow::StepProgress() {
  inner_.StepProgress();
  std::lock_guard<std::mutex> guard(lock_);
  position_ += step_;
  if (position_ > upper_) position_ = 0;
  Report();
}

void ProgressReportingWindow::Report() {
  if (fd_ < 0) return;
  char line[48];
  const int n = std::snprintf(line, sizeof line, "progress %d %d\n", position_, upper_);
  // One write below PIPE_BUF: the line arrives whole or not at all.
  if (n > 0 && write(fd_, line, static_cast<std::size_t>(n)) < 0) return;
}

int CombinedExitStatus(const std::vector<int>& statuses) {
  if (statuses.empty()) return kExitFailed;
  // All alike: the whole ended as each did (all succeeded, none reached, ...).
  if (std::all_of(statuses.begin(), statuses.end(), [&](int s) { return s == statuses.front(); })) {
    return statuses.front();
  }
  return kExitFailed;
}

namespace {

// A run's progress line, "progress POSITION UPPER", as ProgressReportingWindow
// writes it: false for anything else, so a stray line moves no bar.
bool ParseProgressLine(const std::string& line, int& position, int& upper) {
  constexpr char kHead[] = "progress ";
  if (line.rfind(kHead, 0) != 0) return false;
  const char* first = line.c_str() + sizeof kHead - 1;
  char* end = nullptr;
  errno = 0;
  const long a = std::strtol(first, &end, 10);
  if (end == first || *end != ' ' || errno != 0) return false;
  const char* second = end + 1;
  const long b = std::strtol(second, &end, 10);
  if (end == second || *end != '\0' || errno != 0) return false;
  if (a < 0 || b < 0 || a > 0xFFFF || b > 0xFFFF) return false;
  position = static_cast<int>(a);
  upper = static_cast<int>(b);
  return true;
}

// One descriptor, closed with its owner.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

bool MakePipe(Fd& read_end, Fd& write_end) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  read_end = Fd(fds[0]);
  write_end = Fd(fds[1]);
  // The parent reads whatever has come, never waiting on one run.
  fcntl(read_end.Get(), F_SETFL, fcntl(read_end.Get(), F_GETFL) | O_NONBLOCK);
  return true;
}

// Writes all of `text`; errors (a closed pipe, a hung-up terminal) are
// ignored, as the single run ignores them.
void WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// The characters of a UTF-8 or single-byte text (continuation bytes do not
// count where the text is UTF-8).
std::size_t Width(const std::string& text, bool utf8) {
  if (!utf8) return text.size();
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// `text` cut to `columns` characters, never inside a UTF-8 sequence.
std::string Cut(const std::string& text, std::size_t columns, bool utf8) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool starts = !utf8 || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (starts && chars++ == columns) return text.substr(0, i);
  }
  return text;
}

std::string Pad(const std::string& text, std::size_t width, bool utf8) {
  const std::size_t have = Width(text, utf8);
  return have >= width ? text : text + std::string(width - have, ' ');
}

// A text of the table as the terminal shows it, without its line ends.
std::string Shown(unsigned id, bool utf8) {
  char text[kMessageBufferSize];
  LoadText(id, text, sizeof text);
  std::string shown(text);
  shown.erase(std::remove_if(shown.begin(), shown.end(), [](char c) { return c == '\r' || c == '\n'; }), shown.end());
  return utf8 ? Cp1252ToUtf8(shown) : shown;
}

// The run's own plain progress line ("  42 %  153/364 KiB ..."): the parent
// shows the progress itself.
bool IsOwnProgressLine(const std::string& line) {
  std::size_t i = line.find_first_not_of(' ');
  if (i == std::string::npos || i >= line.size() || line[i] < '0' || line[i] > '9') return false;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
  return line.compare(i, 4, " %  ") == 0;
}

struct Stream {
  Fd fd;
  std::string pending;  // bytes after the last line end
};

struct Child {
  std::string port;
  std::string name;      // the port's last path element: the log lines' prefix
  std::string log_file;  // its --save-log file, if any
  pid_t pid = -1;
  bool reaped = false;
  int wait_status = 0;
  Stream out;                // its log (stdout)
  Stream err;                // its questions, summary and diagnostics (stderr)
  Stream progress;           // its "progress" lines
  std::string last_line;     // the log's latest line with text: shown until blocks go out
  std::string cause;         // the first log line that starts with "Ursache:"
  bool interrupted = false;  // its log reports the cancel
  int position = 0;
  int upper = 0;
  bool stepping = false;
  std::chrono::steady_clock::time_point first_step;
  int last_tenth = 0;

  bool Open() const { return out.fd.Get() >= 0 || err.fd.Get() >= 0 || progress.fd.Get() >= 0; }
};

// Every run that was started is waited for, also when the parent leaves
// early (an exception): it is asked to cancel first.
class Children {
 public:
  ~Children() {
    for (Child& child : list) {
      if (child.pid <= 0 || child.reaped) continue;
      kill(child.pid, SIGTERM);
      while (waitpid(child.pid, &child.wait_status, 0) < 0 && errno == EINTR) {
      }
    }
  }
  std::vector<Child> list;
};

sigset_t ParentSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&set, s);
  return set;
}

// Starts `child`: this program again, as a single console run on its port.
// False (nothing started) when the pipes or the process cannot be made.
bool Spawn(Child& child, const Options& options) {
  std::vector<std::string> args = {"modem-update", "--console", "--yes", "--port", child.port};
  if (!child.log_file.empty()) {
    args.emplace_back("--save-log");
    args.push_back(child.log_file);
  }
  if (options.verbose) args.emplace_back("-v");
  args.emplace_back("--progress-fd");
  args.emplace_back("3");
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  Fd out_write;
  Fd err_write;
  Fd progress_write;
  if (!MakePipe(child.out.fd, out_write) || !MakePipe(child.err.fd, err_write) ||
      !MakePipe(child.progress.fd, progress_write)) {
    return false;
  }
  Fd null_in(open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (null_in.Get() < 0) return false;
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    // The child: only calls that are safe after fork until exec.
    // A parent that dies (even by SIGKILL) leaves no run behind: it gets
    // SIGTERM and cancels as a single run does.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    // Out of the terminal's foreground group: Ctrl-C reaches the parent
    // alone, which asks once for all.
    setpgid(0, 0);
    // First out of the way of 0 to 3, then into place (dup2 clears
    // close-on-exec on the target).
    const int from[4] = {null_in.Get(), out_write.Get(), err_write.Get(), progress_write.Get()};
    int high[4];
    for (int i = 0; i < 4; ++i) {
      high[i] = fcntl(from[i], F_DUPFD_CLOEXEC, 10);
      if (high[i] < 0) _exit(127);
    }
    for (int i = 0; i < 4; ++i) {
      if (dup2(high[i], i) < 0) _exit(127);
    }
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  child.pid = pid;
  return true;
}

class ParallelRun {
 public:
  ParallelRun(Children& children, int signals) : children_(children.list), signals_(signals) {
    utf8_ = TerminalWantsUtf8();
    terminal_ = isatty(STDERR_FILENO) == 1;
    stdin_terminal_ = isatty(STDIN_FILENO) == 1;
    for (const Child& child : children_) name_width_ = std::max(name_width_, Width(child.name, utf8_));
    interrupted_text_ = Shown(kTextUpdateInterrupted, utf8_);
  }

  // Serves the runs until every one has ended and said all it had to say.
  void Serve() {
    for (;;) {
      const bool open = std::any_of(children_.begin(), children_.end(), [](const Child& c) { return c.Open(); });
      const bool running = std::any_of(children_.begin(), children_.end(), [](const Child& c) { return !c.reaped; });
      if (!open && !running) break;
      std::vector<pollfd> fds;
      fds.push_back({signals_, POLLIN, 0});
      if (asking_) fds.push_back({STDIN_FILENO, POLLIN, 0});
      for (Child& child : children_) {
        for (Stream* stream : {&child.out, &child.err, &child.progress}) {
          if (stream->fd.Get() >= 0) fds.push_back({stream->fd.Get(), POLLIN, 0});
        }
      }
      // On a terminal the rate and the time left change without news.
      if (poll(fds.data(), fds.size(), terminal_ ? 250 : -1) < 0 && errno != EINTR) break;
      TakeSignals();
      if (asking_) TakeAnswer();
      for (Child& child : children_) ReadChild(child);
      Flush();
      Draw(false);
    }
    ClearBlock();
  }

  // The closing table, one line per port; and the statuses of the runs.
  std::vector<int> Report() {
    std::vector<int> statuses;
    std::vector<std::string> outcomes;
    std::size_t port_width = 0;
    std::size_t outcome_width = 0;
    for (const Child& child : children_) {
      std::string outcome;
      statuses.push_back(Outcome(child, outcome));
      port_width = std::max(port_width, Width(child.port, utf8_));
      outcome_width = std::max(outcome_width, Width(outcome, utf8_));
      outcomes.push_back(std::move(outcome));
    }
    std::string table;
    for (std::size_t i = 0; i < children_.size(); ++i) {
      const Child& child = children_[i];
      table += Pad(child.port, port_width, utf8_) + "  " + Pad(outcomes[i], outcome_width, utf8_) + "  " +
               (child.cause.empty() ? std::string("-") : child.cause) + "\n";
    }
    WriteAll(STDOUT_FILENO, table);
    return statuses;
  }

 private:
  // The exit status of an ended run as the whole counts it, and its outcome
  // as the table says it.
  int Outcome(const Child& child, std::string& outcome) const {
    int status = kExitFailed;
    if (WIFEXITED(child.wait_status)) {
      const int code = WEXITSTATUS(child.wait_status);
      switch (code) {
        case kExitSucceeded:
          status = code;
          outcome = Shown(kTextRunSucceeded, utf8_);
          break;
        case kExitFailed:
          outcome = Shown(child.interrupted ? kTextRunCancelled : kTextRunFailed, utf8_);
          break;
        case kExitNoModem:
          status = code;
          outcome = Shown(kTextRunNotReached, utf8_);
          break;
        case kExitDeclined:
          status = code;
          outcome = Shown(kTextRunNotStarted, utf8_);
          break;
        case kExitUsage:
          status = code;
          outcome = Shown(kTextRunUsageError, utf8_);
          break;
        default:
          outcome = Shown(kTextRunFailed, utf8_);
          break;
      }
    } else if (WIFSIGNALED(child.wait_status) && cancelled_ && WTERMSIG(child.wait_status) == SIGTERM) {
      // The cancel came before the run had taken over its signals.
      outcome = Shown(kTextRunCancelled, utf8_);
    } else {
      char format[kMessageBufferSize];
      LoadText(kTextRunCrashed, format, sizeof format);
      char text[kMessageBufferSize + 16];
      std::snprintf(text, sizeof text, format, WIFSIGNALED(child.wait_status) ? WTERMSIG(child.wait_status) : 0);
      outcome = utf8_ ? Cp1252ToUtf8(text) : std::string(text);
    }
    return status;
  }

  void TakeSignals() {
    signalfd_siginfo info{};
    bool child_ended = false;
    while (read(signals_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      switch (info.ssi_signo) {
        case SIGCHLD:
          child_ended = true;
          break;
        case SIGINT:
          Interrupt(/*ask=*/true);
          break;
        // Without a terminal on stdin nobody could answer.
        case SIGTERM:
          Interrupt(/*ask=*/stdin_terminal_);
          break;
        default:
          break;  // SIGHUP: the runs go on to their end
      }
    }
    if (!child_ended) return;
    for (Child& child : children_) {
      if (child.reaped) continue;
      const pid_t got = waitpid(child.pid, &child.wait_status, WNOHANG);
      if (got == child.pid || (got < 0 && errno == ECHILD)) child.reaped = true;
    }
  }

  void Interrupt(bool ask) {
    if (cancelled_) return;
    if (!ask) {
      if (asking_) Answer(false);
      return CancelAll();
    }
    // A second Ctrl-C ends the open question with No, as in a single run.
    if (asking_) return Answer(false);
    ClearBlock();
    WriteAll(STDERR_FILENO, Shown(kTextAskCancelRunning, utf8_) + " (j/n) ");
    asking_ = true;
    answer_.clear();
  }

  void TakeAnswer() {
    char bytes[64];
    const ssize_t got = read(STDIN_FILENO, bytes, sizeof bytes);
    if (got < 0) return;
    if (got == 0) return Answer(false);  // no answer is no Yes
    answer_.append(bytes, static_cast<std::size_t>(got));
    if (answer_.find('\n') == std::string::npos) return;
    const char c = answer_[0];
    Answer(c == 'j' || c == 'J' || c == 'y' || c == 'Y');  // Enter alone: No
  }

  void Answer(bool yes) {
    if (answer_.find('\n') == std::string::npos) WriteAll(STDERR_FILENO, "\n");
    asking_ = false;
    if (yes) CancelAll();
  }

  void CancelAll() {
    cancelled_ = true;
    for (Child& child : children_) {
      if (!child.reaped) kill(child.pid, SIGTERM);
    }
  }

  void ReadChild(Child& child) {
    for (Stream* stream : {&child.out, &child.err, &child.progress}) {
      if (stream->fd.Get() < 0) continue;
      char bytes[4096];
      for (;;) {
        const ssize_t got = read(stream->fd.Get(), bytes, sizeof bytes);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;  // nothing more for now
        if (got == 0) {
          // The run has ended: a last line without its line end still counts.
          stream->fd.Reset();
          if (!stream->pending.empty()) stream->pending += '\n';
        } else {
          stream->pending.append(bytes, static_cast<std::size_t>(got));
        }
        std::size_t end = 0;
        while ((end = stream->pending.find('\n')) != std::string::npos) {
          Line(child, *stream, stream->pending.substr(0, end));
          stream->pending.erase(0, end + 1);
        }
        if (got == 0) break;
      }
    }
  }

  void Line(Child& child, const Stream& stream, const std::string& line) {
    if (&stream == &child.progress) {
      int position = 0;
      int upper = 0;
      if (!ParseProgressLine(line, position, upper)) return;
      child.position = position;
      child.upper = upper;
      if (!child.stepping && position > 0) {
        child.stepping = true;
        child.first_step = std::chrono::steady_clock::now();
      }
      if (!terminal_ && upper > 0) {
        const int tenth = position * 10 / upper;
        if (tenth > child.last_tenth) {
          child.last_tenth = tenth;
          held_err_ += child.name + ": " + ProgressText(child, false, 0) + "\n";
        }
      }
      return;
    }
    const std::string prefix = child.name + (line.empty() ? ":" : ": ");
    if (&stream == &child.err) {
      if (!IsOwnProgressLine(line)) held_err_ += prefix + line + "\n";
      return;
    }
    if (line.rfind("Ursache:", 0) == 0 && child.cause.empty()) child.cause = line;
    if (line == interrupted_text_) child.interrupted = true;
    if (line.find_first_not_of(' ') != std::string::npos) child.last_line = line;
    held_out_ += prefix + line + "\n";
  }

  std::string ProgressText(const Child& child, bool with_bar, int columns) const {
    const double elapsed =
        child.stepping ? std::chrono::duration<double>(std::chrono::steady_clock::now() - child.first_step).count()
                       : 0.0;
    return FormatProgress(child.position, child.upper, elapsed, with_bar, columns);
  }

  // The lines that came, written whole; the block of progress lines is
  // wiped first and drawn again below them. Held back while a question waits.
  void Flush() {
    if (asking_ || (held_out_.empty() && held_err_.empty())) return;
    ClearBlock();
    WriteAll(STDOUT_FILENO, held_out_);
    WriteAll(STDERR_FILENO, held_err_);
    held_out_.clear();
    held_err_.clear();
  }

  void ClearBlock() {
    if (drawn_ == 0) return;
    std::string wipe = "\r";
    if (drawn_ > 1) wipe += "\033[" + std::to_string(drawn_ - 1) + "A";
    wipe += "\033[J";
    WriteAll(STDERR_FILENO, wipe);
    drawn_ = 0;
  }

  // One line per port below the log: its progress, or before the first
  // block its latest log line, or its outcome.
  void Draw(bool force) {
    if (!terminal_ || asking_) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ > 0 && !force && now - last_draw_ < std::chrono::milliseconds(250)) return;
    const int columns = TerminalColumns(stderr);
    // The last column stays free: a full line makes some terminals wrap.
    const std::size_t room = columns > 1 ? static_cast<std::size_t>(columns - 1) : 1;
    std::string block = "\r";
    if (drawn_ > 1) block += "\033[" + std::to_string(drawn_ - 1) + "A";
    for (std::size_t i = 0; i < children_.size(); ++i) {
      const Child& child = children_[i];
      std::string line = Pad(child.name, name_width_, utf8_) + "  ";
      const int left = static_cast<int>(room) - static_cast<int>(Width(line, utf8_));
      if (child.reaped) {
        std::string outcome;
        Outcome(child, outcome);
        line += outcome;
      } else if (child.stepping) {
        line += ProgressText(child, true, left > 1 ? left + 1 : 2);
      } else {
        line += child.last_line;
      }
      block += Cut(line, room, utf8_) + "\033[K";
      if (i + 1 < children_.size()) block += "\n";
    }
    WriteAll(STDERR_FILENO, block);
    drawn_ = static_cast<int>(children_.size());
    last_draw_ = now;
  }

  std::vector<Child>& children_;
  const int signals_;
  bool utf8_ = true;
  bool terminal_ = false;        // stderr is a terminal: the block is drawn in place
  bool stdin_terminal_ = false;  // someone can answer a question
  std::size_t name_width_ = 0;
  std::string interrupted_text_;
  std::string held_out_;
  std::string held_err_;
  bool asking_ = false;
  std::string answer_;
  bool cancelled_ = false;
  int drawn_ = 0;  // lines of the block on the terminal, the cursor on the last
  std::chrono::steady_clock::time_point last_draw_;
};

// The one start question for all runs, before any starts; Ctrl-C or SIGTERM
// answers No.
bool AskStart(int signals, bool utf8) {
  char text[kMessageBufferSize];
  LoadText(kTextAskStartUpdate, text, sizeof text);
  WriteAll(STDERR_FILENO, (utf8 ? Cp1252ToUtf8(text) : std::string(text)) + " (j/n) ");
  std::string answer;
  for (;;) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {signals, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if ((fds[1].revents & POLLIN) != 0) {
      signalfd_siginfo info{};
      bool stop = false;
      while (read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGINT || info.ssi_signo == SIGTERM) stop = true;
      }
      if (stop) break;
      continue;
    }
    if (fds[0].revents == 0) continue;
    char c = 0;
    const ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    answer += c;
    if (c == '\n') {
      return answer[0] == 'j' || answer[0] == 'J' || answer[0] == 'y' || answer[0] == 'Y';
    }
  }
  WriteAll(STDERR_FILENO, "\n");
  return false;
}

}  // namespace

int RunParallel(const Options& options) {
  Children children;
  for (const std::string& port : options.ports) {
    Child child;
    child.port = port;
    child.name = PortShortName(port);
    if (!options.save_log.empty()) child.log_file = PortLogFile(options.save_log, port);
    children.list.push_back(std::move(child));
  }
  // Every log file is opened now, as a single run does: one that cannot be
  // written must be known before anything goes to any modem.
  for (const Child& child : children.list) {
    if (child.log_file.empty()) continue;
    errno = 0;
    if (OpenLogBlockFile(child.log_file.c_str())) continue;
    const int reason = errno;
    const std::string shown = Shown(kTextLogCannotOpen, TerminalWantsUtf8());
    const std::string why = reason != 0 ? " (" + std::system_category().message(reason) + ")" : "";
    std::fprintf(stderr, "modem-update: %s: %s%s\n", child.log_file.c_str(), shown.c_str(), why.c_str());
    return kExitUsage;
  }

  // The signals come as reads: no handler runs, and a run that ends is
  // noticed in the same wait as its output.
  const sigset_t set = ParentSignals();
  // No other thread exists yet: the mask is the process's, and every thread
  // started later inherits it.
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  const Fd signals(signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
  if (signals.Get() < 0) {
    std::fprintf(stderr, "modem-update: %s\n", std::system_category().message(errno).c_str());
    return kExitFailed;
  }
  if (!options.yes && !AskStart(signals.Get(), TerminalWantsUtf8())) return kExitDeclined;

  std::fflush(stdout);
  std::fflush(stderr);
  for (Child& child : children.list) {
    if (!Spawn(child, options)) {
      // Not started: it counts as failed, the others go on.
      child.reaped = true;
      child.wait_status = 127 << 8;
      child.out.fd.Reset();
      child.err.fd.Reset();
      child.progress.fd.Reset();
    }
  }
  ParallelRun run(children, signals.Get());
  run.Serve();
  return CombinedExitStatus(run.Report());
}

}  // namespace mfu
