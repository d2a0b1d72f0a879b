#include "app/console/run_console.h"

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
// inside the session's code; it only sets this event.
Event g_interrupt(Event::Reset::kAutomatic);
std::atomic<bool> g_ending{false};

void InterruptThread(sigset_t set) {
  for (;;) {
    int signal_number = 0;
    if (sigwait(&set, &signal_number) != 0) return;
    if (g_ending) return;
    g_interrupt.Set();
  }
}

// Ctrl-C during the transfer asks as the window's close box does.
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
bool WaitServingInterrupts(ConsoleWindow& window, IdleCheck idle) {
  for (;;) {
    if (idle()) return true;
    if (g_interrupt.Wait(0) && InterruptConfirmed(window)) return false;
  }
}

void DisableAll(ConsoleWindow& window) {
  for (int id : {kIdStartUpdate, kIdHelp, kIdSaveLog, kIdBeenden}) window.EnableButton(id, false);
}

}  // namespace

void BlockInterruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);  // every later thread inherits it
}

int RunConsole(const Options& options) {
  BlockInterruptSignals();
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  std::thread interrupts(InterruptThread, set);

  ConsoleWindow window(stdout, stdin, stderr, TerminalWantsUtf8(), isatty(STDERR_FILENO) == 1);
  SetMainWindow(&window);

  int status = kExitNoModem;
  SetupCommPort();
  if (SessionMonitorExists()) {
    char question[kMessageBufferSize];
    LoadText(2020, question, sizeof question);
    const bool yes = options.yes || window.AskYesNo(question);
    if (!yes) {
      // As "Beenden" before an update: the modem leaves its download mode.
      WriteToComm("c");
      status = kExitDeclined;
    } else {
      DisableAll(window);
      SignalStartUpdate();
      bool finished = WaitServingInterrupts(window, [] { return WaitUntilMonitorIdle(200); });
      if (finished && SenderThreadExists()) {
        // The end is when the sender has nothing left to do, not the first
        // outcome: a failure reported while the session goes on (no answer
        // to "b") must not cut the update short.
        finished = WaitServingInterrupts(window, [] { return WaitUntilSenderIdle(200); }) &&
                   WaitServingInterrupts(window, [] { return WaitUntilMonitorIdle(200); });
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
