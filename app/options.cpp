#include "app/options.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mfu/version.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "session/monitor.h"
#include "ui/log.h"
#include "zmodem/zmodem.h"

namespace mfu {

const char* UsageText() {
  return "Usage: modem-update [--console [--yes] [--save-log FILE]] [-p DEVICE | --simulate] [-v]\n"
         "       modem-update --list-ports\n"
         "\n"
         "Replaces the firmware of a KELVORA modem on a serial port with the firmware built\n"
         "into this program. Without options it opens the update window.\n"
         "\n"
         "  --console        run without a window: the log goes to stdout, the start\n"
         "                   question is asked on stdin (j/n), the progress bar is drawn\n"
         "                   on stderr when stderr is a terminal\n"
         "  --yes            answer Yes to the start question\n"
         "  -p, --port DEVICE\n"
         "                   the modem is on DEVICE (any device path, such as a\n"
         "                   /dev/serial/by-id/... link, or COM1..COM4 for\n"
         "                   /dev/ttyS0..3); it is taken as it is, without a probe\n"
         "  --simulate       use the built-in simulated modem (at the real line rate)\n"
         "                   instead of a serial port\n"
         "  --save-log FILE  at the end, append the whole log to FILE as \"Log Speichern\"\n"
         "                   does (console only); FILE is opened at the start, and one\n"
         "                   that cannot be opened ends the program before anything is\n"
         "                   sent\n"
         "  --list-ports     list the serial ports (device, by-id name, driver, USB ids\n"
         "                   and names), one a line, and exit\n"
         "  -v, --verbose    show the developer diagnostics on stderr (hidden otherwise)\n"
         "  -h, --help       show this text\n"
         "  --version        show the program's version and its firmware image\n"
         "\n"
         "Exit status (console and window): 0 update succeeded, 1 update failed or was\n"
         "cancelled, 2 no modem found or no connection, 3 no update was started (also\n"
         "when the window finds no display), 64 usage error.\n"
         "\n"
         "Signals: Ctrl-C (SIGINT) is the window's close box: during the update it asks\n"
         "first, and \"j\" cancels. SIGTERM cancels as well, without asking when no one\n"
         "can answer (no terminal on stdin, and the window). A cancelled update sends\n"
         "the modem ZABORT, logs \"Update wurde unterbrochen!\", restores the port and\n"
         "exits with 1. SIGHUP (the terminal or ssh link is gone) and a closed stdout\n"
         "change nothing: the update goes on to its end, --save-log is written, and the\n"
         "exit status tells the outcome. Output never holds up the update: a stopped\n"
         "terminal (Ctrl-S) only delays what is shown.\n";
}

std::string VersionText() {
  std::string text = std::string("modem-update ") + kProgramVersion + "\n";
  // The image the program would send: its name and date as the modem is
  // told, its size and its CRC-32, so that a user can tell one build's
  // firmware from another's.
  char name[64];
  LoadText(kTextFirmwareName, name, sizeof name);
  char seconds[32];
  LoadText(kTextFirmwareDate, seconds, sizeof seconds);
  char date[64];
  FormatFirmwareDate(std::strtoll(seconds, nullptr, 10), date, sizeof date);
  FirmwareImage image;
  if (FindFirmwareImage(image) == FirmwareLookup::kFound) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint32_t i = 0; i < image.size; ++i) crc = UpdateCrc32(crc, image.data[i]);
    char line[192];
    std::snprintf(line, sizeof line, "Firmware: %s, %lu Bytes, %s, CRC-32 %08lx\n", name,
                  static_cast<unsigned long>(image.size), date, static_cast<unsigned long>(crc ^ 0xFFFFFFFFu));
    text += line;
  } else {
    text += std::string("Firmware: ") + name + " (not found)\n";
  }
  if (FirmwareIsStandIn()) {
    char warning[kMessageBufferSize];
    LoadText(kTextStandInImage, warning, sizeof warning);
    text += warning;
  }
  return text;
}

bool ParseOptions(int argc, const char* const* argv, Options& options, std::string& error) {
  options = Options{};
  // GNU conventions: --name VALUE and --name=VALUE, -p VALUE and -pVALUE; a
  // flag takes no value.
  struct Flag {
    const char* name;
    char short_name;
    bool Options::*field;
  };
  static constexpr Flag kFlags[] = {
      {"--console", '\0', &Options::console},   {"--yes", '\0', &Options::yes},
      {"--simulate", '\0', &Options::simulate}, {"--help", 'h', &Options::help},
      {"--version", '\0', &Options::version},   {"--list-ports", '\0', &Options::list_ports},
      {"--verbose", 'v', &Options::verbose},
  };
  struct Valued {
    const char* name;
    char short_name;
    std::string Options::*field;
  };
  static constexpr Valued kValued[] = {{"--port", 'p', &Options::port}, {"--save-log", '\0', &Options::save_log}};

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bool known = false;
    for (const Flag& flag : kFlags) {
      if (arg == flag.name || (flag.short_name != '\0' && arg == std::string("-") + flag.short_name)) {
        options.*flag.field = true;
        known = true;
      } else if (arg.rfind(std::string(flag.name) + "=", 0) == 0) {
        error = "option '" + std::string(flag.name) + "' doesn't allow an argument";
        return false;
      }
    }
    for (const Valued& valued : kValued) {
      if (known) break;
      const std::string long_eq = std::string(valued.name) + "=";
      const std::string short_form = valued.short_name != '\0' ? std::string("-") + valued.short_name : "";
      std::string value;
      if (arg == valued.name || (!short_form.empty() && arg == short_form)) {
        if (i + 1 >= argc) {
          error = "option '" + arg + "' requires an argument";
          return false;
        }
        value = argv[++i];
      } else if (arg.rfind(long_eq, 0) == 0) {
        value = arg.substr(long_eq.size());
      } else if (!short_form.empty() && arg.size() > 2 && arg.rfind(short_form, 0) == 0) {
        value = arg.substr(2);
      } else {
        continue;
      }
      if (value.empty()) {
        error = "option '" + std::string(valued.name) + "' requires a non-empty argument";
        return false;
      }
      options.*valued.field = value;
      known = true;
    }
    if (!known) {
      error = (arg.size() > 1 && arg[0] == '-') ? "unrecognized option '" + arg + "'"
                                                 : "unexpected argument '" + arg + "'";
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
