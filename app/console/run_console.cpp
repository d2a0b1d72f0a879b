#include "app/console/run_console.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>
#include <string>
#include <thread>

#include "app/console/console_window.h"
#include "app/console/parallel_run.h"
#include "app/journal_run.h"
#include "app/real_session.h"
#include "app/update_dialog.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "ui/cp1252.h"
#include "ui/log.h"
#include "ui/log_export.h"
#include "ui/log_file.h"
#include "ui/window.h"

namespace mfu {
namespace {

// A byte on a pipe wakes the console's main thread: Ctrl-C (written by a
// thread of its own that takes the signal with sigwait, so that no handler
// runs inside the session's code) and the session coming to rest (written on
// the monitor thread). The main thread polls both; an open question polls the
// interrupt beside stdin.
class WakePipe {
 public:
  WakePipe() {
    if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) fds_[0] = fds_[1] = -1;
  }
  ~WakePipe() {
    for (int fd : fds_)
      if (fd >= 0) close(fd);
  }
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;

  int ReadFd() const { return fds_[0]; }
  void Raise() const {
    const char byte = 1;
    // A full pipe already holds a wake-up; nothing is lost by dropping it.
    if (fds_[1] >= 0 && write(fds_[1], &byte, 1) < 0) return;
  }
  // True (once) if raised since the last call.
  bool Take() const { return fds_[0] >= 0 && DrainFd(fds_[0]); }

 private:
  int fds_[2] = {-1, -1};
};

std::atomic<bool> g_ending{false};
// SIGTERM came (beside the wake-up, which an open question may consume).
std::atomic<bool> g_terminate{false};
// While the connection procedure runs on the main thread, a Ctrl-C cuts its
// waits short (the search, the pause, the answers of a silent modem); the
// lock keeps the cut from reaching an update that has started since.
std::mutex g_connecting_lock;
SessionControl* g_connecting = nullptr;

// SIGINT and SIGTERM wake the main thread; SIGHUP (the terminal or the ssh
// link is gone) is taken and changes nothing: the flash goes on to its end,
// the log block is written, the exit status tells the outcome.
void InterruptThread(sigset_t set, const WakePipe* pipe) {
  for (;;) {
    int signal_number = 0;
    if (sigwait(&set, &signal_number) != 0) return;
    if (g_ending) return;
    if (signal_number == SIGHUP) continue;
    if (signal_number == SIGTERM) g_terminate = true;
    pipe->Raise();
    std::lock_guard<std::mutex> guard(g_connecting_lock);
    if (g_connecting != nullptr) g_connecting->InterruptConnection();
  }
}

sigset_t InterruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

// What the dialog needs of its window beyond mfu::Window: the console has no
// message queue, so the start-up message is run by RunConsole itself, and the
// close only records that the dialog has ended.
class ConsoleView final : public DialogView {
 public:
  explicit ConsoleView(ConsoleWindow& window) : window_(window) {}
  void PostStartupMessage() override { startup_posted_ = true; }
  // From now on a question answers No and nothing more is drawn.
  void BeginClosing() override { window_.Close(); }
  void CloseWindow(int) override {}
  bool StartupPosted() const { return startup_posted_; }

 private:
  ConsoleWindow& window_;
  bool startup_posted_ = false;
};

// Waits for Ctrl-C, SIGTERM or the session's rest. Ctrl-C is the close box
// (which asks first while the update runs); so is SIGTERM in a terminal,
// where someone can answer, and elsewhere it cancels without asking. The
// rest closes the dialog as "Beenden".
void ServeUntilClosed(UpdateDialog& dialog, const WakePipe& interrupts, const WakePipe& rests, bool terminal) {
  while (!dialog.Closing()) {
    // A SIGTERM whose wake-up an answered question took is served first.
    if (g_terminate.exchange(false)) {
      interrupts.Take();
      if (terminal) {
        dialog.OnCancel();
      } else {
        dialog.OnTerminate();
      }
      continue;
    }
    pollfd fds[2] = {{interrupts.ReadFd(), POLLIN, 0}, {rests.ReadFd(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) {
      // Without the pipes nothing could end the wait: close as the box does.
      dialog.OnSessionRests();
      return;
    }
    if (g_terminate) continue;
    if (interrupts.Take()) dialog.OnCancel();
    if (rests.Take()) dialog.OnSessionRests();
  }
}

}  // namespace

void BlockInterruptSignals() {
  const sigset_t set = InterruptSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);  // every later thread inherits it
}

int RunConsole(const Options& options) {
  // The log file is opened now: one that cannot be written must be known
  // before anything goes to the modem, not after a flash.
  std::unique_ptr<LogFile> log_file;
  if (!options.save_log.empty()) {
    errno = 0;
    log_file = OpenLogBlockFile(options.save_log.c_str());
    if (!log_file) {
      const int reason = errno;
      char text[kMessageBufferSize];
      LoadText(kTextLogCannotOpen, text, sizeof text);
      const std::string shown = TerminalWantsUtf8() ? Cp1252ToUtf8(text) : std::string(text);
      const std::string why = reason != 0 ? " (" + std::system_category().message(reason) + ")" : "";
      std::fprintf(stderr, "modem-update: %s: %s%s\n", options.save_log.c_str(), shown.c_str(), why.c_str());
      return kExitUsage;
    }
  }
  RunJournal journal(options.port);
  BlockInterruptSignals();
  const WakePipe interrupts;
  const WakePipe rests;
  std::thread interrupt_thread(InterruptThread, InterruptSignals(), &interrupts);

  ConsoleWindow window(stdout, stdin, stderr, TerminalWantsUtf8(), isatty(STDERR_FILENO) == 1);
  window.SetInterruptFd(interrupts.ReadFd());
  window.SetSessionRestsHook([&rests] { rests.Raise(); });
  // One run of several (--progress-fd): the progress also goes to the parent.
  std::unique_ptr<ProgressReportingWindow> reporting;
  if (options.progress_fd >= 0) reporting = std::make_unique<ProgressReportingWindow>(window, options.progress_fd);
  Window* shown = &window;
  if (reporting) shown = reporting.get();
  ConsoleView view(window);
  RealSession session(options.port);
  UpdateDialog dialog(*shown, view, session);
  SetMainDialog(journal.Attach(*shown));

  dialog.OnInitDialog();
  // The connection procedure: a Ctrl-C during it cuts it short and ends the
  // program as a No to the start question would.
  {
    std::lock_guard<std::mutex> guard(g_connecting_lock);
    g_connecting = &session;
  }
  if (view.StartupPosted()) dialog.OnStartupMessage();
  {
    std::lock_guard<std::mutex> guard(g_connecting_lock);
    g_connecting = nullptr;
  }
  const bool interrupted = interrupts.Take() || g_terminate.exchange(false);
  // --yes starts only a modem that showed its download mode: one that never
  // answered "a" may not be the modem at all. Without --yes the user sees
  // the missing answer and is asked, as in the window.
  const bool unanswered = options.yes && !session.DownloadModeAnswered();
  if (!interrupted && window.ButtonEnabled(kIdStartUpdate)) {
    if (unanswered) {
      char text[kMessageBufferSize];
      LoadText(kTextNoDownloadMode, text, sizeof text);
      AppendLog(text);
    } else {
      // "Update Starten" as soon as the dialog offers it; --yes answers its
      // question.
      window.SetAnswerYes(options.yes);
      dialog.OnStartUpdate();
      window.SetAnswerYes(false);
    }
  }
  if (dialog.UpdateStarted()) {
    ServeUntilClosed(dialog, interrupts, rests, isatty(STDIN_FILENO) == 1);
  } else {
    // "Beenden": a modem in download mode is let out of it.
    dialog.OnOK();
  }
  // Ctrl-C before the start ends the run as "no update started", also when
  // it cut the search short.
  int status = dialog.ExitStatus();
  if (interrupted && !dialog.UpdateStarted()) {
    status = kExitDeclined;
  } else if (unanswered && !dialog.UpdateStarted() && status == kExitDeclined) {
    status = kExitNoModem;
  }

  // The bar is gone with the outcome; what it measured stays in one line.
  if (status == kExitSucceeded) window.ShowSummary();
  // The journal's end (text 42 closes the log) before the log block is taken.
  journal.Finish(status);

  if (log_file) {
    std::string problem;
    if (!AppendLogBlock(*log_file, window.LogText(), &problem)) {
      // The update's own outcome stays the exit status; the log's fate is told.
      const std::string shown = TerminalWantsUtf8() ? Cp1252ToUtf8(problem) : problem;
      std::fprintf(stderr, "modem-update: %s: %s\n", options.save_log.c_str(), shown.c_str());
    }
  }

  SetMainDialog(nullptr);
  g_ending = true;
  // A wake-up, not a kill: the interrupt thread has SIGTERM blocked and takes
  // it in sigwait, where it sees g_ending and returns.
  pthread_kill(interrupt_thread.native_handle(), SIGTERM);  // NOLINT(bugprone-bad-signal-to-kill-thread,cert-pos44-c)
  interrupt_thread.join();
  return status;
}

}  // namespace mfu
