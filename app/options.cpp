#include "app/options.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mfu/version.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "session/monitor.h"
#include "ui/log.h"
#include "zmodem/zmodem.h"

namespace mfu {

const char* UsageText() {
  return "Usage: modem-update [--console [--yes] [--save-log FILE]] [--port DEVICE | --simulate]\n"
         "\n"
         "Replaces the firmware of a KELVORA modem on a serial port with the firmware built\n"
         "into this program. Without options it opens the update window.\n"
         "\n"
         "  --console        run without a window: the log goes to stdout, the start\n"
         "                   question is asked on stdin (j/n), the progress bar is drawn\n"
         "                   on stderr when stderr is a terminal\n"
         "  --yes            answer Yes to the start question\n"
         "  --port DEVICE    the modem is on DEVICE (a device path of at most 31\n"
         "                   characters, or COM1..COM4 for /dev/ttyS0..3); it is taken\n"
         "                   as it is, without a probe\n"
         "  --simulate       use the built-in simulated modem (at the real line rate)\n"
         "                   instead of a serial port\n"
         "  --save-log FILE  at the end, append the whole log to FILE as \"Log Speichern\"\n"
         "                   does (console only)\n"
         "  --help           show this text\n"
         "  --version        show the program's version\n"
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
    } else if (std::strcmp(arg, "--version") == 0) {
      options.version = true;
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
