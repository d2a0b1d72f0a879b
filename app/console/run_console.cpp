#include "app/console/run_console.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "app/console/console_window.h"
#include "resources/resources.h"
#include "serial/comm_port.h"
#include "session/connection.h"
#include "session/monitor.h"
#include "session/session.h"
#include "ui/cp1252.h"
#include "ui/log.h"
#include "ui/log_export.h"
#include "zmodem/sender.h"

namespace mfu {
namespace {

// Ctrl-C is taken by a thread of its own (sigwait), so that no handler runs
// inside the session's code; it only writes a byte to this pipe, which the
// main thread polls between its waits and an open question polls beside
// stdin.
class InterruptPipe {
 public:
  InterruptPipe() {
    if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) fds_[0] = fds_[1] = -1;
  }
  ~InterruptPipe() {
    for (int fd : fds_)
      if (fd >= 0) close(fd);
  }
  InterruptPipe(const InterruptPipe&) = delete;
  InterruptPipe& operator=(const InterruptPipe&) = delete;

  int ReadFd() const { return fds_[0]; }
  void Raise() const {
    const char byte = 1;
    // A full pipe already holds an interrupt; nothing is lost by dropping it.
    if (fds_[1] >= 0 && write(fds_[1], &byte, 1) < 0) return;
  }
  // True (once) if the user has interrupted since the last call.
  bool Take() const { return fds_[0] >= 0 && DrainFd(fds_[0]); }

 private:
  int fds_[2] = {-1, -1};
};

std::atomic<bool> g_ending{false};

void InterruptThread(sigset_t set, const InterruptPipe* pipe) {
  for (;;) {
    int signal_number = 0;
    if (sigwait(&set, &signal_number) != 0) return;
    if (g_ending) return;
    pipe->Raise();
  }
}

// Ctrl-C during the transfer asks as the window's close box does; Ctrl-C at
// that question is no Yes.
bool InterruptConfirmed(ConsoleWindow& window) {
  if (SenderThreadExists() && SenderState() != 0) {
    char question[kMessageBufferSize];
    LoadText(2018, question, sizeof question);
    return window.AskYesNo(question);
  }
  return true;
}

// Waits for `idle` while serving Ctrl-C; false when the user cancelled.
template <typename IdleCheck>
bool WaitServingInterrupts(ConsoleWindow& window, const InterruptPipe& pipe, IdleCheck idle) {
  for (;;) {
    if (idle()) return true;
    if (pipe.Take() && InterruptConfirmed(window)) return false;
  }
}

void DisableAll(ConsoleWindow& window) {
  for (int id : {kIdStartUpdate, kIdHelp, kIdSaveLog, kIdBeenden}) window.EnableButton(id, false);
}

sigset_t InterruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void BlockInterruptSignals() {
  const sigset_t set = InterruptSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);  // every later thread inherits it
}

int RunConsole(const Options& options) {
  BlockInterruptSignals();
  const InterruptPipe pipe;
  std::thread interrupts(InterruptThread, InterruptSignals(), &pipe);

  ConsoleWindow window(stdout, stdin, stderr, TerminalWantsUtf8(), isatty(STDERR_FILENO) == 1);
  window.SetInterruptFd(pipe.ReadFd());
  SetMainWindow(&window);

  int status = kExitNoModem;
  // The search is bounded (a few seconds per port); Ctrl-C during it is
  // served when it is over, as a No to the start question.
  SetupCommPort();
  if (SessionMonitorExists()) {
    char question[kMessageBufferSize];
    LoadText(2020, question, sizeof question);
    const bool interrupted = pipe.Take();
    const bool yes = !interrupted && (options.yes || window.AskYesNo(question));
    if (!yes) {
      // As "Beenden" before an update: the modem leaves its download mode.
      WriteToComm("c");
      status = kExitDeclined;
    } else {
      DisableAll(window);
      SignalStartUpdate();
      bool finished = WaitServingInterrupts(window, pipe, [] { return WaitUntilMonitorIdle(200); });
      if (finished && SenderThreadExists()) {
        // The end is when the sender has nothing left to do, not the first
        // outcome: a failure reported while the session goes on (no answer
        // to "b") must not cut the update short.
        finished = WaitServingInterrupts(window, pipe, [] { return WaitUntilSenderIdle(200); }) &&
                   WaitServingInterrupts(window, pipe, [] { return WaitUntilMonitorIdle(200); });
      }
      status = finished && LastOutcome() == Outcome::kSucceeded ? kExitSucceeded : kExitFailed;
    }
  }
  StopSessionMonitor();
  window.Close();

  if (!options.save_log.empty()) {
    std::string problem;
    if (!AppendLogBlock(options.save_log.c_str(), window.LogText(), &problem)) {
      // The update's own outcome stays the exit status; the log's fate is told.
      const std::string shown = TerminalWantsUtf8() ? Cp1252ToUtf8(problem) : problem;
      std::fprintf(stderr, "modem-update: %s: %s\n", options.save_log.c_str(), shown.c_str());
    }
  }

  SetMainWindow(nullptr);
  g_ending = true;
  // A wake-up, not a kill: the interrupt thread has SIGTERM blocked and takes
  // it in sigwait, where it sees g_ending and returns.
  pthread_kill(interrupts.native_handle(), SIGTERM);  // NOLINT(bugprone-bad-signal-to-kill-thread,cert-pos44-c)
  interrupts.join();
  return status;
}

}  // namespace mfu
