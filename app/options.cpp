#include "app/options.h"

#include <cerrno>
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
  // Windows-1252, as every text of the program; main converts it for the
  // terminal.
  return "Aufruf: modem-update [--console [--yes] [--save-log DATEI]] [-p GER\xC4T | --simulate] [-v]\n"
         "        modem-update --list-ports [--probe] | --history | --help | --version\n"
         "\n"
         "Ersetzt die Firmware eines KELVORA-Modems an einer seriellen Schnittstelle durch\n"
         "die Firmware, die in dieses Programm eingebaut ist. Ohne Optionen \xF6" "ffnet es das\n"
         "Update-Fenster.\n"
         "\n"
         "Das Modem wird so gesucht: die mit --port genannte Schnittstelle, sonst die\n"
         "Liste der installierten Modems, sonst alle Schnittstellen, die das System\n"
         "kennt (USB-Adapter und ttyS-Ports, alle zugleich, 3 Sekunden), zuletzt COM1 bis\n"
         "COM4 (/dev/ttyS0 bis /dev/ttyS3) einzeln mit \"ati4\" (bis zu 50 Sekunden je\n"
         "Schnittstelle).\n"
         "\n"
         "  --console        ohne Fenster: das Protokoll geht auf die Standardausgabe,\n"
         "                   die Fragen (j/n) auf die Standardfehlerausgabe, die\n"
         "                   Antworten kommen von der Standardeingabe; der\n"
         "                   Fortschrittsbalken steht auf der Standardfehlerausgabe,\n"
         "                   wenn sie ein Terminal ist, und passt sich seiner Breite an;\n"
         "                   nach einem Erfolg bleibt eine Zeile mit Gr\xF6\xDF\x65, Dauer und\n"
         "                   Geschwindigkeit stehen\n"
         "  --yes            beantwortet die Startfrage mit Ja (nur mit --console)\n"
         "  -p, --port GER\xC4T\n"
         "                   das Modem h\xE4ngt an GER\xC4T: jeder Ger\xE4tepfad, etwa ein\n"
         "                   Link unter /dev/serial/by-id/, oder COM1 bis COM4 f\xFCr\n"
         "                   /dev/ttyS0 bis /dev/ttyS3; es wird so genommen, ohne Suche.\n"
         "                   Mehrmals angegeben (nur mit --console): jedes Modem in\n"
         "                   einem Prozess f\xFCr sich, alle zugleich, je Schnittstelle\n"
         "                   eine Fortschrittszeile und am Ende eine Zeile der Tabelle\n"
         "                   (Schnittstelle, Ergebnis, Ursache); ohne --yes eine Frage\n"
         "                   f\xFCr alle; Strg-C fragt einmal und bricht dann alle ab\n"
         "  --simulate       das eingebaute simulierte Modem (mit der echten\n"
         "                   \xDC\x62\x65rtragungsrate) statt einer seriellen Schnittstelle\n"
         "  --save-log DATEI am Ende das ganze Protokoll an DATEI anh\xE4ngen, wie es\n"
         "                   \"Log Speichern\" tut (nur mit --console); DATEI wird beim\n"
         "                   Start ge\xF6\x66\x66net, und l\xE4sst sie sich nicht \xF6\x66\x66nen, endet\n"
         "                   das Programm, bevor etwas gesendet wird; bei mehreren\n"
         "                   --port eine Datei je Schnittstelle, der letzte Teil ihres\n"
         "                   Pfads vor der Endung (update.log: update-ttyUSB0.log)\n"
         "  --list-ports     die seriellen Schnittstellen auflisten (Ger\xE4t, by-id-Name,\n"
         "                   Treiber, USB-Kennungen und -Namen), eine je Zeile, und enden\n"
         "  --probe          mit --list-ports: alle Schnittstellen zugleich mit \"ati4\"\n"
         "                   fragen (3 Sekunden) und die mit einem KELVORA-Modem\n"
         "                   markieren\n"
         "  --history        die bisherigen L\xE4ufe auflisten, einen je Zeile, den neuesten\n"
         "                   zuletzt: Datum, Uhrzeit, Schnittstelle, Ergebnis und Ursache;\n"
         "                   jeder Lauf hinterl\xE4sst sein ganzes Protokoll in einer Datei\n"
         "                   unter $XDG_STATE_HOME/modem-update/ (sonst\n"
         "                   ~/.local/state/modem-update/)\n"
         "  -v, --verbose    die Diagnosen f\xFCr Entwickler auf der Standardfehlerausgabe\n"
         "                   zeigen (sonst verborgen)\n"
         "  -h, --help       diesen Text zeigen\n"
         "  --version        die Version des Programms und sein Firmware-Abbild zeigen\n"
         "\n"
         "Exit-Status (Konsole und Fenster): 0 Update erfolgreich, 1 Update fehlgeschlagen\n"
         "oder abgebrochen, 2 kein Modem gefunden oder keine Verbindung, 3 kein Update\n"
         "gestartet (auch wenn das Fenster keine grafische Oberfl\xE4\x63he findet),\n"
         "64 Aufruffehler. Mit mehreren --port: 0 nur, wenn jedes Update erfolgreich war,\n"
         "2, wenn keins der Modems erreicht wurde, sonst 1.\n"
         "\n"
         "Signale: Strg-C (SIGINT) wirkt wie das Schlie\xDF\x65n des Fensters: w\xE4hrend des\n"
         "Updates fragt es erst, und \"j\" bricht ab. SIGTERM bricht ebenso ab, ohne Frage,\n"
         "wenn niemand antworten kann (kein Terminal an der Standardeingabe, und im\n"
         "Fenster). Ein abgebrochenes Update schickt dem Modem ZABORT, protokolliert\n"
         "\"Update wurde unterbrochen!\", stellt die Schnittstelle wieder her und endet mit\n"
         "1. SIGHUP (Terminal oder ssh-Verbindung weg) und eine geschlossene\n"
         "Standardausgabe \xE4ndern nichts: das Update l\xE4uft zu Ende, --save-log wird\n"
         "geschrieben, und der Exit-Status sagt das Ergebnis. Die Ausgabe h\xE4lt das Update\n"
         "nie auf: ein angehaltenes Terminal (Strg-S) verz\xF6gert nur die Anzeige.\n";
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

std::string PortShortName(const std::string& port) {
  std::string name = port;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  const std::size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string PortLogFile(const std::string& file, const std::string& port) {
  // The extension is the last dot of the file's own name, not of a folder,
  // and not a leading dot (".log" is a name without extension).
  const std::size_t slash = file.rfind('/');
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = file.rfind('.');
  const bool has_extension = dot != std::string::npos && dot > base;
  // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on
  // "-" + a string.
  std::string derived = has_extension ? file.substr(0, dot) : file;
  derived += '-';
  derived += PortShortName(port);
  if (has_extension) derived.append(file, dot, std::string::npos);
  return derived;
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
      {"--probe", '\0', &Options::probe},
      {"--history", '\0', &Options::history},
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
    bool continue_port = false;  // a second --port: `port` keeps the first
    for (const Flag& flag : kFlags) {
      if (arg == flag.name || (flag.short_name != '\0' && arg == std::string("-") + flag.short_name)) {
        options.*flag.field = true;
        known = true;
      } else if (arg.rfind(std::string(flag.name) + "=", 0) == 0) {
        error = "Option '" + std::string(flag.name) + "' nimmt kein Argument";
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
          error = "Option '" + arg + "' braucht ein Argument";
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
        error = "Option '" + std::string(valued.name) + "' braucht ein nicht leeres Argument";
        return false;
      }
      if (valued.field == &Options::port) {
        options.ports.push_back(value);
        if (options.ports.size() > 1) continue_port = true;
      }
      if (!continue_port) options.*valued.field = value;
      known = true;
    }
    // Not in --help: the progress channel of one run of a parallel run.
    if (!known && (arg == "--progress-fd" || arg.rfind("--progress-fd=", 0) == 0)) {
      std::string value;
      if (arg == "--progress-fd") {
        if (i + 1 >= argc) {
          error = "Option '--progress-fd' braucht ein Argument";
          return false;
        }
        value = argv[++i];
      } else {
        value = arg.substr(std::strlen("--progress-fd="));
      }
      char* end = nullptr;
      errno = 0;
      const long fd = std::strtol(value.c_str(), &end, 10);
      // 0 to 2 are the run's own streams.
      if (value.empty() || *end != '\0' || errno != 0 || fd < 3 || fd > 1023) {
        error = "Option '--progress-fd' braucht eine Deskriptornummer von 3 bis 1023";
        return false;
      }
      options.progress_fd = static_cast<int>(fd);
      known = true;
    }
    if (!known) {
      error = (arg.size() > 1 && arg[0] == '-') ? "unbekannte Option '" + arg + "'"
                                                 : "unerwartetes Argument '" + arg + "'";
      return false;
    }
  }
  if (options.simulate && !options.port.empty()) {
    error = "--port und --simulate schlie\xDF" "en einander aus";
    return false;
  }
  if (options.ports.size() > 1) {
    // One process per port, each with its own log file (named after the
    // port's last path element): two ports of one name would share it.
    if (!options.console) {
      error = "mehrere --port brauchen --console";
      return false;
    }
    for (std::size_t a = 0; a < options.ports.size(); ++a) {
      for (std::size_t b = a + 1; b < options.ports.size(); ++b) {
        if (options.ports[a] == options.ports[b]) {
          error = "--port '" + options.ports[a] + "' zweimal angegeben";
          return false;
        }
        if (PortShortName(options.ports[a]) == PortShortName(options.ports[b])) {
          error = "--port '" + options.ports[a] + "' und '" + options.ports[b] + "' enden auf denselben Namen";
          return false;
        }
      }
    }
  }
  if (options.probe && !options.list_ports) {
    error = "--probe braucht --list-ports";
    return false;
  }
  if (!options.console && (options.yes || !options.save_log.empty())) {
    error = "--yes und --save-log brauchen --console";
    return false;
  }
  return true;
}

}  // namespace mfu
