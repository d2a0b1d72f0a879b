// The command line of the Linux program. (The Windows program takes none:
// it is started from its icon, and everything it needs is built in.)
#pragma once

#include <string>

#include "app/exit_status.h"

namespace mfu {

struct Options {
  bool console = false;   // --console: no window, the log on stdout
  bool yes = false;       // --yes: answer Yes to the start question
  bool simulate = false;  // --simulate: the built-in simulated modem
  bool help = false;      // --help, -h
  bool verbose = false;   // --verbose, -v: the developer diagnostics on stderr
  bool version = false;   // --version
  bool list_ports = false;  // --list-ports: print the serial ports and exit
  bool history = false;   // --history: list the runs the journal keeps and exit
  std::string port;       // --port DEVICE: take this port, no probe
  std::string save_log;   // --save-log FILE: append the log block at the end
};

// Parses argv; false with a message in `error` on a usage error.
bool ParseOptions(int argc, const char* const* argv, Options& options, std::string& error);

// The --help text.
const char* UsageText();

// The --version text: the program's name and version; the embedded image's
// name, size, date and CRC-32; the warning when it is the stand-in
// (Windows-1252). The resources must be installed.
std::string VersionText();

}  // namespace mfu
