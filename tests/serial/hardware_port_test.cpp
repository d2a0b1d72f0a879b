// Which device paths count as serial ports of real hardware, decided from
// stat and sysfs alone: no device is opened.
#include "serial/posix/hardware_port.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "serial/serial_device.h"
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

// The backend's view: the probe's names COM1 to COM4 are the first UARTs,
// real hardware whether their nodes exist here or not; a pseudo-terminal is
// none.
TEST(HardwarePort, TheProbesComNamesAreRealPortsAndAPseudoTerminalIsNot) {
  const test::Pty pty;
  ASSERT_FALSE(pty.path.empty());
  for (const char* name : {"COM1", "COM2", "COM3", "COM4"}) EXPECT_TRUE(PlatformSerialBackend().IsHardwarePort(name));
  EXPECT_FALSE(PlatformSerialBackend().IsHardwarePort(pty.path.c_str()));
  EXPECT_FALSE(PlatformSerialBackend().IsHardwarePort("COM5"));  // no UART name: a path as given, none here
}

TEST(HardwarePort, ATtyDriversDeviceIsOne) {
  // /dev/tty (5:0) belongs to the tty layer as every UART and USB adapter
  // does; it is only looked at, never opened.
  if (access("/sys/dev/char/5:0", F_OK) != 0) GTEST_SKIP() << "no sysfs entry for /dev/tty here";
  EXPECT_TRUE(IsHardwareTty("/dev/tty"));
}

}  // namespace
}  // namespace mfu
