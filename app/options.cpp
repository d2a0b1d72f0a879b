#include "app/options.h"

#include <cstring>

namespace mfu {

const char* UsageText() {
  return "Usage: modem-update [--console [--yes] [--save-log FILE]] [--port DEVICE | --simulate]\n"
         "       modem-update --list-ports\n"
         "\n"
         "Replaces the firmware of a KELVORA modem on a serial port with the firmware built\n"
         "into this program. Without options it opens the update window.\n"
         "\n"
         "  --console        run without a window: the log goes to stdout, the start\n"
         "                   question is asked on stdin (j/n), the progress bar is drawn\n"
         "                   on stderr when stderr is a terminal\n"
         "  --yes            answer Yes to the start question\n"
         "  --port DEVICE    the modem is on DEVICE (any device path, such as a\n"
         "                   /dev/serial/by-id/... link, or COM1..COM4 for\n"
         "                   /dev/ttyS0..3); it is taken as it is, without a probe\n"
         "  --simulate       use the built-in simulated modem (at the real line rate)\n"
         "                   instead of a serial port\n"
         "  --save-log FILE  at the end, append the whole log to FILE as \"Log Speichern\"\n"
         "                   does (console only)\n"
         "  --list-ports     list the serial ports (device, by-id name, driver, USB ids\n"
         "                   and names), one a line, and exit\n"
         "  --help           show this text\n"
         "\n"
         "Exit status (console): 0 update succeeded, 1 update failed or was cancelled,\n"
         "2 no modem found or no connection, 3 the start question was answered No,\n"
         "64 usage error.\n";
}

bool ParseOptions(int argc, const char* const* argv, Options& options, std::string& error) {
  options = Options{};
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    auto value = [&](std::string& target) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        error = std::string(arg) + " needs a value";
        return false;
      }
      target = argv[++i];
      return true;
    };
    if (std::strcmp(arg, "--console") == 0) {
      options.console = true;
    } else if (std::strcmp(arg, "--yes") == 0) {
      options.yes = true;
    } else if (std::strcmp(arg, "--simulate") == 0) {
      options.simulate = true;
    } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      options.help = true;
    } else if (std::strcmp(arg, "--list-ports") == 0) {
      options.list_ports = true;
    } else if (std::strcmp(arg, "--port") == 0) {
      if (!value(options.port)) return false;
    } else if (std::strcmp(arg, "--save-log") == 0) {
      if (!value(options.save_log)) return false;
    } else {
      error = std::string("unknown option: ") + arg;
      return false;
    }
  }
  if (options.simulate && !options.port.empty()) {
    error = "--port and --simulate exclude each other";
    return false;
  }
  if (!options.console && (options.yes || !options.save_log.empty())) {
    error = "--yes and --save-log need --console";
    return false;
  }
  return true;
}

}  // namespace mfu
