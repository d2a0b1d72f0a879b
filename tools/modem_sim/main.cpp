// modem-sim: the simulated modem on a pseudo-terminal, so that the real
// programs (and the Windows build under Wine, with COM1 linked to the pty)
// can be run against it end to end. With --rz, lrzsz's rz is the ZMODEM
// receiver from "b" to "OO".
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "mfu/version.h"
#include "simulator/modem_model.h"
#include "simulator/simulated_modem.h"

namespace {

// The text of errno, as strerror gives it, but safe while other threads of
// the simulator run (strerror may share one buffer between threads).
std::string ErrnoText() { return std::generic_category().message(errno); }

using mfu::sim::Action;
using mfu::sim::Bytes;
using mfu::sim::Micros;
using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

const char kUsage[] =
    "Usage: modem-sim [OPTION]...\n"
    "Serves a simulated modem on a pseudo-terminal and prints the terminal's path\n"
    "on stdout (one line). The modem answers \"ati4\\r\\n\" with its identifier\n"
    "QVRLMAZZ, \"at@d\\r\\n\" and \"a\\r\\n\" with the download-mode banner, \"b\" with\n"
    "its flash loader's ZMODEM receiver (hex headers only; every CRC, offset\n"
    "and the file information are checked; a frame that fails a check is\n"
    "answered with ZNAK; a ZABORT is recorded and answered with ZFIN), and\n"
    "\"OO\" after the transfer, following a pause, with a final answer that\n"
    "contains \"erfolgreich\" only when the received image is byte-identical to\n"
    "the expected one. \"c\" in download mode leaves it. After a session the\n"
    "modem is back in its command mode, so the tool can be run again.\n"
    "\n"
    "Options:\n"
    "  --link PATH      also make PATH a symbolic link to the terminal (an existing\n"
    "                   link there is replaced; removed again at the end)\n"
    "  --fast           no line pacing (default: both directions paced at 57600\n"
    "                   bit/s, 10 bit times per byte, as a real update)\n"
    "  --flash-ms N     flash time per data block before its ZACK, in ms\n"
    "                   (default 20, with --fast 0)\n"
    "  --final-ms N     pause between \"OO\" and the final answer, in ms (default 2000)\n"
    "  --image FILE     the expected image (default: the built-in firmware image)\n"
    "  --name NAME      the file name the file information must carry\n"
    "                   (default bc2780ix.bin; \"\" accepts any)\n"
    "  --date OCTAL     the octal date it must carry (default 6610700432; \"\" any)\n"
    "  --rz             real-receiver mode: after \"b\" the line goes to `rz -y -q`\n"
    "                   (from PATH) on a pseudo-terminal of its own, in a temporary\n"
    "                   folder, its stderr to the log; after \"OO\" the simulator\n"
    "                   takes the line back and judges the file rz wrote. ZMODEM\n"
    "                   faults do not apply in this mode.\n"
    "  --rz-dir DIR     rz's working folder (kept, with the file rz wrote)\n"
    "  --fault STEP:KIND[:BLOCK]\n"
    "                   a fault; repeatable. See below.\n"
    "  --log FILE       log every frame received and sent (hex in the ZMODEM\n"
    "                   phase) to FILE (default: stderr)\n"
    "  --once           exit after one update session; the exit status is 0 when\n"
    "                   the image matched and the final answer went out, else 1\n"
    "  --help           this text\n"
    "  --version        the version (the same as modem-update's)\n"
    "\n"
    "Faults:\n"
    "%s"
    "  A pseudo-terminal has no status lines: dsr-off, lines-off and status-fails\n"
    "  are logged but cannot be seen by the tool here (the in-process simulator\n"
    "  shows them). hangup closes the pseudo-terminal and ends the program.\n"
    "\n"
    "Exit status: 0 on a signal or (with --once) a good session, 1 for a failed\n"
    "session, 2 for a usage or set-up error.\n";

struct Args {
  std::string link;
  bool fast = false;
  long flash_ms = -1;
  long final_ms = 2000;
  std::string image_file;
  std::optional<std::string> name;
  std::optional<std::string> date;
  bool rz = false;
  std::string rz_dir;
  std::vector<mfu::sim::Fault> faults;
  std::string log_file;
  bool once = false;
};

bool ParseNumber(const char* text, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && value >= 0 && value <= 3'600'000;
}

int Usage(const std::string& error) {
  std::fprintf(stderr, "modem-sim: %s\nTry 'modem-sim --help'.\n", error.c_str());
  return 2;
}

void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
  }
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

std::optional<Bytes> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The real receiver: rz on a pseudo-terminal of its own.
struct Receiver {
  pid_t pid = -1;
  int fd = -1;
  std::string dir;
  bool temp_dir = false;
  std::deque<std::pair<Micros, std::uint8_t>> to_rz;  // the tool's bytes, paced
  bool ending = false;                                // "OO" seen: no more bytes from rz go out
  Clock::time_point end_deadline;
};

class Program {
 public:
  explicit Program(Args args) : args_(std::move(args)) {}
  int Run();

 private:
  Micros Now() const {
    const double ns_per_us = static_cast<double>(mfu::RealDuration(1000).count()) / 1e6;
    return static_cast<Micros>(
        static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - epoch_).count()) /
        ns_per_us);
  }
  void Log(const std::string& line) {
    std::fprintf(log_, "%s\n", line.c_str());
    std::fflush(log_);
  }
  void Collect();
  bool StartReceiver(Micros now);
  void FinishReceiver(Micros now, bool expect_file);
  void HangUp();
  void Cleanup();

  Args args_;
  std::FILE* log_ = stderr;
  int log_fd_ = 2;
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
  Clock::time_point epoch_ = Clock::now();
  std::optional<mfu::sim::ModemModel> model_;
  std::deque<std::pair<Micros, std::uint8_t>> out_;
  std::vector<Action> events_;
  Receiver rz_;
  bool session_ended_ = false;
  bool hung_up_ = false;
};

void Program::Collect() {
  for (Action& a : model_->TakeActions()) {
    if (a.kind == Action::Kind::kSend) {
      for (std::size_t i = 0; i < a.bytes.size(); ++i)
        out_.emplace_back(a.at + static_cast<Micros>(i + 1) * model_->ByteMicros(), a.bytes[i]);
    } else {
      events_.push_back(std::move(a));
    }
  }
}

bool Program::StartReceiver(Micros now) {
  rz_ = Receiver{};
  if (!args_.rz_dir.empty()) {
    rz_.dir = args_.rz_dir;
    mkdir(rz_.dir.c_str(), 0700);
  } else {
    char tmpl[] = "/tmp/modem-sim-rz-XXXXXX";
    if (!mkdtemp(tmpl)) {
      Log(std::string("cannot make rz's folder: ") + ErrnoText());
      return false;
    }
    rz_.dir = tmpl;
    rz_.temp_dir = true;
  }
  int m = -1, s = -1;
  if (openpty(&m, &s, nullptr, nullptr, nullptr) != 0) {
    Log(std::string("openpty for rz failed: ") + ErrnoText());
    return false;
  }
  MakeRaw(s);
  const pid_t pid = fork();
  if (pid < 0) {
    close(m);
    close(s);
    return false;
  }
  if (pid == 0) {
    setsid();
    ioctl(s, TIOCSCTTY, 0);
    dup2(s, 0);
    dup2(s, 1);
    dup2(log_fd_, 2);  // rz's stderr goes to the log, never onto the line
    for (int fd = 3; fd < 256; ++fd) close(fd);
    if (chdir(rz_.dir.c_str()) != 0) _exit(126);
    execlp("rz", "rz", "-y", "-q", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(s);
  SetNonBlocking(m);
  rz_.pid = pid;
  rz_.fd = m;
  std::string line = "[";
  line += std::to_string(now / 1000);
  line += "] rz started (pid " + std::to_string(pid) + ") in " + rz_.dir;
  Log(line);
  return true;
}

void Program::FinishReceiver(Micros now, bool expect_file) {
  int status = 0;
  std::string note = "exit status unknown";
  if (rz_.pid > 0) {
    // rz waits for the "OO" after ZFIN and then exits; give it time.
    for (int i = 0; i < 150; ++i) {
      if (!rz_.to_rz.empty()) {
        Bytes chunk;
        for (auto& [at, b] : rz_.to_rz) chunk.push_back(b);
        rz_.to_rz.clear();
        if (write(rz_.fd, chunk.data(), chunk.size()) < 0) break;
      }
      const pid_t r = waitpid(rz_.pid, &status, WNOHANG);
      if (r == rz_.pid) break;
      if (i == 149) {
        kill(rz_.pid, SIGTERM);
        waitpid(rz_.pid, &status, 0);
      }
      usleep(100'000);
    }
    note = WIFEXITED(status) ? "rz exited " + std::to_string(WEXITSTATUS(status))
                             : "rz ended by signal " + std::to_string(WTERMSIG(status));
    rz_.pid = -1;
  }
  if (rz_.fd >= 0) close(rz_.fd);
  rz_.fd = -1;
  std::optional<Bytes> image;
  std::vector<std::string> files;
  if (DIR* d = opendir(rz_.dir.c_str())) {
    // This stream is read by this thread alone, which glibc's readdir allows.
    while (dirent* e = readdir(d)) {  // NOLINT(concurrency-mt-unsafe)
      const std::string p = rz_.dir + "/" + e->d_name;
      struct stat st{};
      if (stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode)) files.push_back(p);
    }
    closedir(d);
  }
  if (expect_file && files.size() == 1) image = ReadFile(files[0]);
  if (expect_file && files.size() != 1) note += ", " + std::to_string(files.size()) + " files written";
  if (rz_.temp_dir) {
    for (const auto& f : files) unlink(f.c_str());
    rmdir(rz_.dir.c_str());
  }
  model_->ExternalReceiverEnded(image, note, now);
}

void Program::HangUp() {
  if (hung_up_) return;
  hung_up_ = true;
  Log("hang-up: closing the pseudo-terminal");
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
  master_ = slave_ = -1;
}

void Program::Cleanup() {
  if (rz_.pid > 0) {
    kill(rz_.pid, SIGTERM);
    waitpid(rz_.pid, nullptr, 0);
  }
  if (!args_.link.empty()) unlink(args_.link.c_str());
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
}

int Program::Run() {
  if (!args_.log_file.empty()) {
    log_ = std::fopen(args_.log_file.c_str(), "a");
    if (!log_) return Usage("cannot open the log " + args_.log_file + ": " + ErrnoText());
    log_fd_ = fileno(log_);
  }
  mfu::sim::ModemOptions o;
  o.real_line_rate = !args_.fast;
  o.flash_ms_per_block = static_cast<mfu::Millis>(args_.flash_ms >= 0 ? args_.flash_ms : (args_.fast ? 0 : 20));
  o.final_pause_ms = static_cast<mfu::Millis>(args_.final_ms);
  o.faults = args_.faults;
  o.external_receiver = args_.rz;
  if (args_.name) o.expected_name = *args_.name;
  if (args_.date) o.expected_date = *args_.date;
  if (!args_.image_file.empty()) {
    o.expected_image = ReadFile(args_.image_file);
    if (!o.expected_image) return Usage("cannot read the image " + args_.image_file);
  } else {
    o.expected_image = mfu::sim::BuiltInImage();
  }
  o.log = [this](const std::string& line) { Log(line); };
  model_.emplace(std::move(o));

  char name[256] = {0};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    std::fprintf(stderr, "modem-sim: openpty failed: %s\n", ErrnoText().c_str());
    return 2;
  }
  // Raw from the start, so nothing the modem sends is echoed back to it
  // before the tool has set the line up. The simulator keeps this side open
  // too, so the tool may close and reopen the port.
  MakeRaw(slave_);
  SetNonBlocking(master_);
  path_ = name;
  if (!args_.link.empty()) {
    struct stat st{};
    if (lstat(args_.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(args_.link.c_str());
    if (symlink(path_.c_str(), args_.link.c_str()) != 0) {
      std::fprintf(stderr, "modem-sim: cannot link %s: %s\n", args_.link.c_str(), ErrnoText().c_str());
      Cleanup();
      return 2;
    }
  }
  std::printf("%s\n", path_.c_str());
  std::fflush(stdout);
  Log("modem-sim on " + path_ + (args_.link.empty() ? "" : " (link " + args_.link + ")") +
      (args_.fast ? ", fast" : ", 57600 bit/s") + (args_.rz ? ", rz mode" : ""));

  struct sigaction sa{};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  int exit_code = 0;
  Collect();
  while (!g_stop) {
    const Micros now = Now();
    // Status changes, hang-ups, the receiver's hand-over and session ends.
    while (!events_.empty()) {
      std::size_t i = 0;
      for (std::size_t k = 1; k < events_.size(); ++k)
        if (events_[k].at < events_[i].at) i = k;
      if (events_[i].at > now) break;
      const Action a = events_[i];
      events_.erase(events_.begin() + static_cast<std::ptrdiff_t>(i));
      switch (a.kind) {
        case Action::Kind::kLines:
          Log("status lines now CTS " + std::string(a.cts ? "on" : "off") + ", DSR " + (a.dsr ? "on" : "off") +
              " (not visible on a pseudo-terminal)");
          break;
        case Action::Kind::kStatusFails: Log("status query fails from now on (not visible on a pseudo-terminal)"); break;
        case Action::Kind::kHangUp: HangUp(); break;
        case Action::Kind::kStartReceiver:
          if (!StartReceiver(now)) model_->ExternalReceiverEnded(std::nullopt, "rz could not be started", now);
          break;
        case Action::Kind::kEndReceiver:
          rz_.ending = true;
          FinishReceiver(now, a.expect_file);
          break;
        case Action::Kind::kSessionEnd: session_ended_ = true; break;
        default: break;
      }
      Collect();
    }
    if (hung_up_) {
      exit_code = 1;
      break;
    }
    // The modem's bytes whose time has come.
    std::size_t due = 0;
    while (due < out_.size() && out_[due].first <= now) ++due;
    if (due > 0) {
      Bytes chunk;
      for (std::size_t i = 0; i < due; ++i) chunk.push_back(out_[i].second);
      const ssize_t n = write(master_, chunk.data(), chunk.size());
      if (n > 0) out_.erase(out_.begin(), out_.begin() + n);
    }
    // The tool's bytes that have reached rz.
    if (rz_.fd >= 0 && !rz_.to_rz.empty()) {
      Bytes chunk;
      std::size_t k = 0;
      while (k < rz_.to_rz.size() && rz_.to_rz[k].first <= now) chunk.push_back(rz_.to_rz[k++].second);
      if (!chunk.empty()) {
        const ssize_t n = write(rz_.fd, chunk.data(), chunk.size());
        if (n > 0) rz_.to_rz.erase(rz_.to_rz.begin(), rz_.to_rz.begin() + n);
      }
    }
    if (session_ended_ && out_.empty() && args_.once) {
      const auto& obs = model_->observations();
      exit_code = obs.image_matched.value_or(false) && obs.final_answers > 0 ? 0 : 1;
      // The pty goes with us, and a hang-up flushes what the tool has not
      // read yet: wait (5 s at most) until our own end of the line shows the
      // last answer taken, then give the tool's read its quiet gap to end.
      for (int i = 0; i < 250; ++i) {
        int unread = 0;
        if (slave_ < 0 || ioctl(slave_, FIONREAD, &unread) != 0 || unread == 0) break;
        mfu::SleepMs(20);
      }
      mfu::SleepMs(500);
      break;
    }
    // Sleep until the next byte or event is due, or input comes.
    Micros next = INT64_MAX;
    if (!out_.empty()) next = out_.front().first;
    if (!rz_.to_rz.empty()) next = std::min(next, rz_.to_rz.front().first);
    for (const Action& a : events_) next = std::min(next, a.at);
    pollfd fds[2] = {{master_, POLLIN, 0}, {rz_.fd, POLLIN, 0}};
    const nfds_t nfds = rz_.fd >= 0 ? 2 : 1;
    timespec ts{1, 0};
    if (next != INT64_MAX) {
      const double ns_per_us = static_cast<double>(mfu::RealDuration(1000).count()) / 1e6;
      const auto wait_ns = static_cast<long long>(static_cast<double>(std::max<Micros>(0, next - now)) * ns_per_us);
      ts.tv_sec = static_cast<time_t>(std::min<long long>(wait_ns / 1'000'000'000, 1));
      ts.tv_nsec = ts.tv_sec >= 1 ? 0 : static_cast<long>(wait_ns % 1'000'000'000);
    }
    if (!out_.empty() && next <= now) ts = {0, 200'000};  // the pty was full
    const int r = ppoll(fds, nfds, &ts, nullptr);
    if (r < 0) continue;
    std::uint8_t buffer[4096];
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) {
        const bool to_receiver = rz_.fd >= 0 && !rz_.ending;
        const Micros t = Now();
        const Micros arrived = model_->Receive(buffer, static_cast<std::size_t>(n), t);
        if (to_receiver) {
          // Each byte reaches rz when it would have crossed the line.
          const Micros step = model_->ByteMicros();
          for (ssize_t i = 0; i < n; ++i)
            rz_.to_rz.emplace_back(arrived - static_cast<Micros>(n - 1 - i) * step, buffer[i]);
        }
        Collect();
      }
    }
    if (nfds == 2 && rz_.fd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      const ssize_t n = read(rz_.fd, buffer, sizeof buffer);
      if (n > 0) {
        if (!rz_.ending) {
          model_->SendExternal(Bytes(buffer, buffer + n), Now());
          Collect();
        }
      } else if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        // rz has closed its side: it has ended before "OO".
        const Micros t = Now();
        close(rz_.fd);
        rz_.fd = -1;
        FinishReceiver(t, false);
        Collect();
      }
    }
  }
  Cleanup();
  if (log_ != stderr) std::fclose(log_);
  return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&](const char* what) -> const char* {
      if (i + 1 >= argc) {
        Usage(a + " needs " + what);
        std::exit(2);  // NOLINT(concurrency-mt-unsafe): argument parsing, before any thread starts
      }
      return argv[++i];
    };
    long number = 0;
    if (a == "--help" || a == "-h") {
      std::printf(kUsage, mfu::sim::FaultHelp().c_str());
      return 0;
    } else if (a == "--version") {
      std::printf("modem-sim %s\n", mfu::kProgramVersion);
      return 0;
    } else if (a == "--link") {
      args.link = value("a path");
    } else if (a == "--fast") {
      args.fast = true;
    } else if (a == "--flash-ms" || a == "--final-ms") {
      if (!ParseNumber(value("a number of ms"), number)) return Usage(a + ": not a number of ms");
      (a == "--flash-ms" ? args.flash_ms : args.final_ms) = number;
    } else if (a == "--image") {
      args.image_file = value("a file");
    } else if (a == "--name") {
      args.name = value("a name");
    } else if (a == "--date") {
      args.date = value("an octal date");
    } else if (a == "--rz") {
      args.rz = true;
    } else if (a == "--rz-dir") {
      args.rz_dir = value("a folder");
    } else if (a == "--fault") {
      mfu::sim::Fault f;
      std::string error;
      if (!mfu::sim::ParseFault(value("STEP:KIND[:BLOCK]"), f, error)) return Usage(error);
      args.faults.push_back(f);
    } else if (a == "--log") {
      args.log_file = value("a file");
    } else if (a == "--once") {
      args.once = true;
    } else {
      return Usage("unknown option " + a);
    }
  }
  return Program(std::move(args)).Run();
}
