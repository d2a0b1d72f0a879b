// The Linux stand-ins for the installed-modem list: none at all, or the port
// of --port; and the --list-ports text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "serial/discovery.h"
#include "serial/modem_list.h"
#include "serial/posix/port_option.h"
#include "serial/serial_device.h"
#include "tests/support/fake_serial.h"

namespace mfu {
namespace {

class PosixListTest : public ::testing::Test {
 protected:
  // COM1 to COM4 go to fake ports only, should a probe ever run here.
  void SetUp() override { SetSerialBackend(&backend_); }
  void TearDown() override {
    SetNamedPort(nullptr);
    SetModemList(nullptr);
    SetSerialBackend(nullptr);
    EXPECT_TRUE(backend_.Opened().empty());
  }
  test::FakeSerialBackend backend_;
  char port_[kPortNameSize] = {'X', 'X', '\0'};
};

TEST_F(PosixListTest, LinuxHasNoInstalledModems) {
  SetModemList(nullptr);
  KeyHandle key = 0;
  EXPECT_FALSE(TheModemList().OpenList(key));
  FindModemInRegistry(port_);
  EXPECT_STREQ(port_, "");
}

TEST_F(PosixListTest, PortOptionTakesAnyPathUpToThePathLimit) {
  EXPECT_TRUE(PortOptionFits("/dev/pts/3"));
  EXPECT_TRUE(PortOptionFits(std::string(kPortNameSize - 1, 'p').c_str()));
  EXPECT_FALSE(PortOptionFits(std::string(kPortNameSize, 'p').c_str()));
  EXPECT_FALSE(PortOptionFits(""));
  EXPECT_FALSE(PortOptionFits(nullptr));
}

TEST_F(PosixListTest, PortOptionIsTakenAsItIsWithoutAProbe) {
  const std::string by_id = "/dev/serial/by-id/usb-KELVORA_56000_Modem_A1B2C3-if00-port0";
  UsePortOption(by_id.c_str());
  EXPECT_TRUE(FindModemPort(port_));  // a probe would open COM1 and fail here
  EXPECT_EQ(std::string(port_), by_id);

  const std::string longest(kPortNameSize - 1, 'q');
  UsePortOption(longest.c_str());
  EXPECT_TRUE(FindModemPort(port_));
  EXPECT_EQ(std::string(port_), longest);
}

TEST_F(PosixListTest, PortListHasOneLineAPortAndSaysWhenThereIsNone) {
  EXPECT_EQ(PortListText({}), "No serial ports found.\n");
  const std::vector<PortEntry> ports = {
      {"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0", "ftdi_sio", "0403", "6001", "FTDI",
       "FT232R USB UART"},
      {"/dev/ttyS0", "", "serial", "", "", "", ""}};
  EXPECT_EQ(PortListText(ports),
            "/dev/ttyUSB0  /dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0  driver ftdi_sio  usb 0403:6001  FTDI  "
            "FT232R USB UART\n"
            "/dev/ttyS0  driver serial\n");
}

}  // namespace
}  // namespace mfu
