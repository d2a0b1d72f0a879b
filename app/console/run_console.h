// The console front-end: the same session as the window runs, with the log on
// stdout. Ends when the session has nothing left to do.
#pragma once

#include "app/options.h"

namespace mfu {

// Ctrl-C and SIGTERM go to the console's own thread: call this before any
// other thread starts (the simulator's), so that every thread inherits it.
void BlockInterruptSignals();

// Runs one session; returns the exit status (kExit*). The serial backend and
// the modem list must be installed before.
int RunConsole(const Options& options);

}  // namespace mfu
