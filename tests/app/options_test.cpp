// The command line: GNU conventions, one line per usage error.
#include "app/options.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace mfu
