// The command line: GNU conventions, one line per usage error.
#include "app/options.h"

#include <unistd.h>

#include "app/console/parallel_run.h"
#include "tests/support/recording_window.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace mfu {
namespace {

struct Row {
  std::vector<const char*> args;
  bool ok;
  std::string port_or_error;  // the port taken, or the error
};

TEST(Options, GnuFormsAndOneLineErrors) {
  const Row rows[] = {
      {{"--port", "/dev/ttyUSB0"}, true, "/dev/ttyUSB0"},
      {{"--port=/dev/serial/by-id/usb-x-if00"}, true, "/dev/serial/by-id/usb-x-if00"},
      {{"-p", "/dev/ttyACM0"}, true, "/dev/ttyACM0"},
      {{"-p/dev/ttyACM1"}, true, "/dev/ttyACM1"},
      {{"--port"}, false, "Option '--port' braucht ein Argument"},
      {{"--port="}, false, "Option '--port' braucht ein nicht leeres Argument"},
      {{"--yes=1"}, false, "Option '--yes' nimmt kein Argument"},
      {{"--colsole"}, false, "unbekannte Option '--colsole'"},
      {{"stray"}, false, "unerwartetes Argument 'stray'"},
      {{"--simulate", "-p", "COM1"}, false, "--port und --simulate schlie\xDF" "en einander aus"},
      {{"--yes"}, false, "--yes und --save-log brauchen --console"},
      // Several modems: the first --port stays the port of a single run.
      {{"--console", "-p", "/dev/ttyUSB0", "--port=/dev/ttyUSB1"}, true, "/dev/ttyUSB0"},
      {{"-p", "/dev/ttyUSB0", "-p", "/dev/ttyUSB1"}, false, "mehrere --port brauchen --console"},
      {{"--console", "-p", "COM1", "-p", "COM1"}, false, "--port 'COM1' zweimal angegeben"},
      {{"--console", "-p", "/dev/a/ttyUSB0", "-p", "/dev/b/ttyUSB0"}, false,
       "--port '/dev/a/ttyUSB0' und '/dev/b/ttyUSB0' enden auf denselben Namen"},
      {{"--progress-fd", "2"}, false, "Option '--progress-fd' braucht eine Deskriptornummer von 3 bis 1023"},
      {{"--progress-fd=3x"}, false, "Option '--progress-fd' braucht eine Deskriptornummer von 3 bis 1023"},
      {{"--probe"}, false, "--probe braucht --list-ports"},
  };
  for (const Row& row : rows) {
    std::vector<const char*> argv = {"modem-update"};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    Options options;
    std::string error;
    const bool ok = ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error);
    EXPECT_EQ(ok, row.ok) << row.args[0];
    EXPECT_EQ(ok ? options.port : error, row.port_or_error) << row.args[0];
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
  Options options;
  std::string error;
  const char* verbose[] = {"modem-update", "-v", "--console", "--save-log=x.hlg", "-h"};
  ASSERT_TRUE(ParseOptions(5, verbose, options, error)) << error;
  EXPECT_TRUE(options.verbose && options.console && options.help);
  EXPECT_EQ(options.save_log, "x.hlg");
  EXPECT_EQ(options.progress_fd, -1);
  const char* several[] = {"modem-update", "--console", "-pCOM2", "--progress-fd", "7", "--port", "/dev/ttyACM0"};
  ASSERT_TRUE(ParseOptions(7, several, options, error)) << error;
  EXPECT_EQ(options.ports, (std::vector<std::string>{"COM2", "/dev/ttyACM0"}));
  EXPECT_EQ(options.progress_fd, 7);
}

// One log file per port: the port's last path element before the extension.
TEST(Options, PortLogFileNames) {
  EXPECT_EQ(PortLogFile("update.log", "/dev/ttyUSB0"), "update-ttyUSB0.log");
  EXPECT_EQ(PortLogFile("/var/log/a.b/update", "/dev/serial/by-id/usb-x-if00/"), "/var/log/a.b/update-usb-x-if00");
  EXPECT_EQ(PortLogFile("logs/.hlg", "COM3"), "logs/.hlg-COM3");
  EXPECT_EQ(PortLogFile("x.tar.hlg", "ttyS1"), "x.tar-ttyS1.hlg");
}

// The options --help lists: "  -p, --port GER\xC4T" gives -p and --port.
std::set<std::string> HelpOptions() {
  std::set<std::string> names;
  std::istringstream help(UsageText());
  const std::regex option("^  (?:(-[a-z]), )?(--[a-z-]+)");
  std::smatch found;
  for (std::string line; std::getline(help, line);) {
    if (!std::regex_search(line, found, option)) continue;
    if (found[1].matched) names.insert(found[1]);
    names.insert(found[2]);
  }
  return names;
}

// The options the man page's OPTIONS section lists, one .TP entry each.
std::set<std::string> ManPageOptions() {
  std::ifstream page(MFU_MAN_PAGE);
  EXPECT_TRUE(page.is_open()) << MFU_MAN_PAGE;
  std::set<std::string> names;
  bool in_options = false;
  bool entry = false;
  const std::regex option("(?:^|[ \"])(--?[a-z][a-z-]*)");
  for (std::string line; std::getline(page, line);) {
    if (line.rfind(".SH", 0) == 0) in_options = line == ".SH OPTIONS";
    if (!in_options) continue;
    if (line == ".TP") {
      entry = true;
      continue;
    }
    if (!entry) continue;
    entry = false;
    line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
    for (std::sregex_iterator it(line.begin(), line.end(), option), end; it != end; ++it) names.insert((*it)[1]);
  }
  return names;
}

// --help, the man page and the parser speak of the same options.
TEST(Options, HelpManPageAndParserListTheSameOptions) {
  const std::set<std::string> help = HelpOptions();
  EXPECT_EQ(help, ManPageOptions());
  EXPECT_EQ(help, (std::set<std::string>{"--console", "--yes", "-p", "--port", "--simulate", "--save-log",
                                         "--list-ports", "--probe", "--history", "-v", "--verbose", "-h", "--help",
                                         "--version"}));
  for (const std::string& name : help) {
    std::vector<const char*> argv = {"modem-update", "--console", name.c_str()};
    if (name == "--probe") argv[1] = "--list-ports";
    Options options;
    std::string error;
    if (!ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error) &&
        error.find("braucht ein Argument") != std::string::npos) {
      argv.push_back("x");
      error.clear();
    }
    EXPECT_TRUE(ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error)) << name << ": " << error;
  }
}

}  // namespace
}  // namespace mfu

namespace mfu {
namespace {

// A run of several reports its progress byte for byte, with the control's
// wrap, goes on to the window it wraps, and never blocks on a full pipe.
TEST(ParallelRun, ProgressLinesAndTheWholeExitStatus) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  test::RecordingWindow inner;
  {
    ProgressReportingWindow window(inner, fds[1]);
    window.SetProgressRange(3);
    window.SetProgressStep(2);
    window.StepProgress();
    window.StepProgress();  // past the end: wraps to 0
    EXPECT_EQ(inner.ProgressSteps(), 2);
    EXPECT_EQ(inner.ProgressUpper(), 3);
    char bytes[128] = {};
    const ssize_t got = read(fds[0], bytes, sizeof bytes - 1);
    EXPECT_EQ(std::string(bytes, got > 0 ? static_cast<std::size_t>(got) : 0),
              "progress 0 3\nprogress 2 3\nprogress 0 3\n");
    // Nobody reads: the pipe fills, and a step still returns.
    for (int i = 0; i < 10000; ++i) window.StepProgress();
    EXPECT_EQ(inner.ProgressSteps(), 10002);
  }  // the descriptor is the window's: closed with it
  char byte = 0;
  while (read(fds[0], &byte, 1) > 0) {
  }
  EXPECT_EQ(read(fds[0], &byte, 1), 0);
  close(fds[0]);
  EXPECT_EQ(CombinedExitStatus({0, 0, 0}), 0);
  EXPECT_EQ(CombinedExitStatus({2, 2}), 2);
  EXPECT_EQ(CombinedExitStatus({0, 2, 0}), 1);
  EXPECT_EQ(CombinedExitStatus({0, 3}), 1);
  EXPECT_EQ(CombinedExitStatus({}), 1);
}

}  // namespace
}  // namespace mfu
