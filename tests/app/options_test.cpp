// The command line: GNU conventions, one line per usage error.
#include "app/options.h"

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
      {{"--port"}, false, "option '--port' requires an argument"},
      {{"--port="}, false, "option '--port' requires a non-empty argument"},
      {{"--yes=1"}, false, "option '--yes' doesn't allow an argument"},
      {{"--colsole"}, false, "unrecognized option '--colsole'"},
      {{"stray"}, false, "unexpected argument 'stray'"},
      {{"--simulate", "-p", "COM1"}, false, "--port and --simulate exclude each other"},
      {{"--yes"}, false, "--yes and --save-log need --console"},
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
                                         "--list-ports", "--history", "-v", "--verbose", "-h", "--help",
                                         "--version"}));
  for (const std::string& name : help) {
    std::vector<const char*> argv = {"modem-update", "--console", name.c_str()};
    Options options;
    std::string error;
    if (!ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error) &&
        error.find("requires an argument") != std::string::npos) {
      argv.push_back("x");
      error.clear();
    }
    EXPECT_TRUE(ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error)) << name << ": " << error;
  }
}

}  // namespace
}  // namespace mfu
