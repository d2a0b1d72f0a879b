// The window front-end of the Linux program, or its absence in a build
// without a toolkit (which still has the console front-end).
#pragma once

namespace mfu {

// Runs the update window until it closes; returns the exit status.
int RunWindowFrontEnd(int argc, char** argv);

}  // namespace mfu
