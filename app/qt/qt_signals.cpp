#include "app/qt/qt_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <QSocketNotifier>

namespace mfu {
namespace {

// The pipe lives as long as the program: a signal may come at any moment,
// also while the window is being torn down.
int g_pipe[2] = {-1, -1};

void OnSignal(int) {
  const int saved = errno;
  const char byte = 1;
  // A full pipe already holds a request: a failed write loses nothing.
  (void)!write(g_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void WatchTerminationSignals(UpdateDialog& dialog, QObject* owner) {
  if (g_pipe[0] < 0 && pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, owner);
  QObject::connect(notifier, &QSocketNotifier::activated, owner, [&dialog] {
    char bytes[16];
    while (read(g_pipe[0], bytes, sizeof bytes) > 0) {
    }
    dialog.OnTerminate();
  });
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGHUP, SIG_IGN);
}

}  // namespace mfu
