// The command line of the Linux program. (The Windows program takes none:
// it is started from its icon, and everything it needs is built in.)
#pragma once

#include <string>
#include <vector>

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
  bool probe = false;       // --probe (with --list-ports): mark the ports with a KELVORA modem
  bool history = false;   // --history: list the runs the journal keeps and exit
  std::string port;       // --port DEVICE: take this port, no probe (the first one given)
  std::vector<std::string> ports;  // every --port, in the order given; more than one: a parallel run
  std::string save_log;   // --save-log FILE: append the log block at the end
  // --progress-fd N (not in --help; a parallel run gives it to each of its
  // runs): the progress as "progress POSITION UPPER" lines on descriptor N.
  int progress_fd = -1;
};

// The log file of one port of a parallel run: `file` with the port's last
// path element inserted before the extension ("update.log" and
// "/dev/ttyUSB0" give "update-ttyUSB0.log"; "update" gives "update-ttyUSB0").
std::string PortLogFile(const std::string& file, const std::string& port);

// The last path element of a port ("/dev/ttyUSB0" gives "ttyUSB0").
std::string PortShortName(const std::string& port);

// Parses argv; false with a message in `error` on a usage error.
bool ParseOptions(int argc, const char* const* argv, Options& options, std::string& error);

// The --help text.
const char* UsageText();

// The --version text: the program's name and version; the embedded image's
// name, size, date and CRC-32; the warning when it is the stand-in
// (Windows-1252). The resources must be installed.
std::string VersionText();

}  // namespace mfu
