// The Linux stand-ins for the installed-modem list: none at all, or the one
// entry of --port.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

TEST_F(PosixListTest, PortOptionFitsTheValueBufferOnly) {
  EXPECT_TRUE(PortOptionFits("/dev/pts/3"));
  EXPECT_TRUE(PortOptionFits(std::string(31, 'p').c_str()));
  EXPECT_FALSE(PortOptionFits(std::string(32, 'p').c_str()));
  EXPECT_FALSE(PortOptionFits(""));
  EXPECT_FALSE(PortOptionFits(nullptr));
}

TEST_F(PosixListTest, PortOptionIsTakenAsItIsWithoutAProbe) {
  UsePortOption("/dev/pts/7");
  EXPECT_TRUE(FindModemPort(port_));  // a probe would open COM1 and fail here
  EXPECT_STREQ(port_, "/dev/pts/7");

  UsePortOption(std::string(31, 'q').c_str());
  FindModemInRegistry(port_);
  EXPECT_EQ(std::string(port_), std::string(31, 'q'));
}

TEST_F(PosixListTest, PortOptionListLooksLikeOneInstalledModem) {
  UsePortOption("/dev/ttyUSB0");
  InstalledModemList& list = TheModemList();
  KeyHandle key = 0;
  ASSERT_TRUE(list.OpenList(key));
  char name[128];
  std::uint32_t size = sizeof name;
  ASSERT_TRUE(list.EnumSubkey(key, 0, name, size));
  EXPECT_STREQ(name, "0000");
  EXPECT_EQ(size, 4u);
  size = sizeof name;
  EXPECT_FALSE(list.EnumSubkey(key, 1, name, size));
  KeyHandle sub = 0;
  ASSERT_TRUE(list.OpenSubkey(key, "0000", sub));
  char value[32];
  std::uint32_t value_size = sizeof value;
  ASSERT_TRUE(list.QueryValue(sub, "Model", value, value_size));
  EXPECT_STREQ(value, "Kelvora 56000");
  EXPECT_EQ(value_size, 14u);
  value_size = 8;  // too small
  EXPECT_FALSE(list.QueryValue(sub, "AttachedTo", value, value_size));
  value_size = sizeof value;
  EXPECT_FALSE(list.QueryValue(sub, "FriendlyName", value, value_size));
}

}  // namespace
}  // namespace mfu
