// The console front-end: the same session as the window runs, with the log on
// stdout. Ends when the session has nothing left to do.
#pragma once

#include "app/options.h"

namespace mfu {

// Runs one session; returns the exit status (kExit*). The serial backend and
// the modem list must be installed before.
int RunConsole(const Options& options);

}  // namespace mfu
