// The window front-end of the Linux program, or its absence in a build
// without a toolkit (which still has the console front-end).
#pragma once

#include <string>

namespace mfu {

// Runs the update window until it closes; returns the exit status.
// `port_option` is the port --port named (empty: the search finds one).
int RunWindowFrontEnd(int argc, char** argv, const std::string& port_option);

}  // namespace mfu
