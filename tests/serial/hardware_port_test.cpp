// Which device paths count as serial ports of real hardware, decided from
// stat and sysfs alone: no device is opened.
#include "serial/posix/hardware_port.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/serial/pty.h"

namespace mfu {
namespace {

TEST(HardwarePort, PseudoTerminalsAndOtherFilesAreNotRealPorts) {
  const test::Pty pty;
  ASSERT_FALSE(pty.path.empty());
  EXPECT_FALSE(IsHardwareTty(pty.path.c_str()));
  EXPECT_FALSE(IsHardwareTty("/dev/ptmx"));
  EXPECT_FALSE(IsHardwareTty("/dev/null"));   // a character device, but no tty
  EXPECT_FALSE(IsHardwareTty("/etc/passwd"));  // no device at all
  EXPECT_FALSE(IsHardwareTty("/dev/no-such-port"));
  EXPECT_FALSE(IsHardwareTty(nullptr));
}

TEST(HardwarePort, ATtyDriversDeviceIsOne) {
  // /dev/tty (5:0) belongs to the tty layer as every UART and USB adapter
  // does; it is only looked at, never opened.
  if (access("/sys/dev/char/5:0", F_OK) != 0) GTEST_SKIP() << "no sysfs entry for /dev/tty here";
  EXPECT_TRUE(IsHardwareTty("/dev/tty"));
}

}  // namespace
}  // namespace mfu
