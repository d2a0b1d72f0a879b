// The installed-modem list over the registry, against a branch of its own
// under HKEY_CURRENT_USER that each test builds and removes; and discovery's
// registry step reading it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "serial/discovery.h"
#include "serial/serial_device.h"
#include "serial/win32/hardware_port.h"
#include "serial/win32/registry_modem_list.h"
#include "serial/win32/serial_comm_ports.h"

namespace mfu {
namespace {

constexpr const char* kTestBranch = "Software\\MfuWin32Test\\Modem";

class RegistryListTest : public ::testing::Test {
 protected:
  void SetUp() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\MfuWin32Test"); }
  void TearDown() override {
    SetModemList(nullptr);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\MfuWin32Test");
  }

  static void AddValue(const std::string& subkey, const char* name, const void* data, DWORD size, DWORD type) {
    HKEY key = nullptr;
    const std::string path = std::string(kTestBranch) + "\\" + subkey;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
    if (name != nullptr) {
      ASSERT_EQ(::RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    ::RegCloseKey(key);
  }
  static void AddModem(const std::string& subkey, const char* model, const char* port) {
    AddValue(subkey, nullptr, nullptr, 0, REG_SZ);
    if (model != nullptr) AddValue(subkey, "Model", model, static_cast<DWORD>(std::strlen(model) + 1), REG_SZ);
    if (port != nullptr) AddValue(subkey, "AttachedTo", port, static_cast<DWORD>(std::strlen(port) + 1), REG_SZ);
  }

  RegistryModemList list_{HKEY_CURRENT_USER, kTestBranch};
};

TEST_F(RegistryListTest, MissingBranchDoesNotOpen) {
  KeyHandle key = 0;
  EXPECT_FALSE(list_.OpenList(key));
  EXPECT_EQ(key, 0u);
}

TEST_F(RegistryListTest, EnumeratesSubkeysInOrderAndReadsValues) {
  AddModem("0000", "Standard 33600", "COM2");
  AddModem("0001", "Kelvora 56000 Voice", "COM3");
  KeyHandle list = 0;
  ASSERT_TRUE(list_.OpenList(list));
  char name[128];
  std::uint32_t size = sizeof name;
  ASSERT_TRUE(list_.EnumSubkey(list, 0, name, size));
  EXPECT_STREQ(name, "0000");
  EXPECT_EQ(size, 4u);
  size = sizeof name;
  ASSERT_TRUE(list_.EnumSubkey(list, 1, name, size));
  EXPECT_STREQ(name, "0001");
  size = sizeof name;
  EXPECT_FALSE(list_.EnumSubkey(list, 2, name, size));

  KeyHandle subkey = 0;
  ASSERT_TRUE(list_.OpenSubkey(list, "0001", subkey));
  char value[32];
  std::uint32_t value_size = sizeof value;
  ASSERT_TRUE(list_.QueryValue(subkey, "Model", value, value_size));
  EXPECT_STREQ(value, "Kelvora 56000 Voice");
  EXPECT_EQ(value_size, 20u);
  value_size = sizeof value;
  ASSERT_TRUE(list_.QueryValue(subkey, "AttachedTo", value, value_size));
  EXPECT_STREQ(value, "COM3");
  value_size = sizeof value;
  EXPECT_FALSE(list_.QueryValue(subkey, "NoSuchValue", value, value_size));
  list_.CloseKey(subkey);
  KeyHandle missing = 0;
  EXPECT_FALSE(list_.OpenSubkey(list, "0009", missing));
  list_.CloseKey(list);
}

TEST_F(RegistryListTest, ValueLongerThanTheBufferIsRefused) {
  const std::string long_model(40, 'K');
  AddModem("0000", long_model.c_str(), "COM1");
  KeyHandle list = 0, subkey = 0;
  ASSERT_TRUE(list_.OpenList(list));
  ASSERT_TRUE(list_.OpenSubkey(list, "0000", subkey));
  char value[32];
  std::uint32_t size = sizeof value;
  EXPECT_FALSE(list_.QueryValue(subkey, "Model", value, size));
  list_.CloseKey(subkey);
  list_.CloseKey(list);
}

TEST_F(RegistryListTest, ValueWithoutTerminatorIsTerminatedOrRefused) {
  AddValue("0000", "AttachedTo", "COM4", 4, REG_BINARY);
  const std::string full(32, 'C');
  AddValue("0000", "Model", full.data(), 32, REG_BINARY);
  KeyHandle list = 0, subkey = 0;
  ASSERT_TRUE(list_.OpenList(list));
  ASSERT_TRUE(list_.OpenSubkey(list, "0000", subkey));
  char value[32];
  std::memset(value, 'x', sizeof value);
  std::uint32_t size = sizeof value;
  ASSERT_TRUE(list_.QueryValue(subkey, "AttachedTo", value, size));
  EXPECT_STREQ(value, "COM4");
  EXPECT_EQ(size, 5u);
  size = sizeof value;
  EXPECT_FALSE(list_.QueryValue(subkey, "Model", value, size));  // 32 bytes, no room for the NUL
  list_.CloseKey(subkey);
  list_.CloseKey(list);
}

TEST_F(RegistryListTest, DiscoveryTakesTheFirstMatchingModemsPort) {
  AddModem("0000", "kelvora 56000", "COM1");           // letter case differs: no match
  AddModem("0001", "Generic Orbalis 56K", "COM3");     // first match
  AddModem("0002", "Kelvora 56000", "COM4");
  SetModemList(&list_);
  char port[kPortNameSize];
  std::memset(port, 'x', sizeof port);
  FindModemInRegistry(port);
  EXPECT_STREQ(port, "COM3");
}

TEST_F(RegistryListTest, DiscoveryFindsNothingWithoutTheBranch) {
  SetModemList(&list_);
  char port[kPortNameSize] = "COM7";
  FindModemInRegistry(port);
  EXPECT_STREQ(port, "");
}

// Windows 2000 and later: the 95/98 branch is missing or names no supported
// modem, and the NT modem class is read next; the other ports are named in
// SERIALCOMM.
TEST_F(RegistryListTest, TheNtModemClassAnswersWhenThe9xBranchGivesNothingAndSerialCommNamesMorePorts) {
  constexpr const char* kNtBranch = "Software\\MfuWin32Test\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";
  RegistryModemList nt_list{HKEY_CURRENT_USER, kNtBranch};
  SetModemLists(&list_, &nt_list);
  char port[kPortNameSize] = "COM7";
  FindModemInRegistry(port);  // neither branch exists
  EXPECT_STREQ(port, "");
  EXPECT_EQ(TheSecondModemList(), &nt_list);

  AddModem("0000", "Standard 33600", "COM2");  // the 9x branch, no supported modem
  for (const char* value : {"Model", "AttachedTo"}) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, (std::string(kNtBranch) + "\\0001").c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::string data = std::strcmp(value, "Model") == 0 ? "Kelvora 56000 USB" : "COM6";
    ASSERT_EQ(::RegSetValueExA(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                               static_cast<DWORD>(data.size() + 1)),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
  }
  FindModemInRegistry(port);
  EXPECT_STREQ(port, "COM6");
  AddModem("0001", "Orbalis 56", "COM3");  // a 9x match wins: the NT class is not read
  FindModemInRegistry(port);
  EXPECT_STREQ(port, "COM3");

  const std::string serial_comm = "Software\\MfuWin32Test\\SERIALCOMM";
  EXPECT_TRUE(ReadSerialCommPorts(HKEY_CURRENT_USER, serial_comm.c_str()).empty());  // no such key
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, serial_comm.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
            ERROR_SUCCESS);
  const DWORD number = 5;
  for (const auto& [name, data] : {std::pair<const char*, const char*>{"\\Device\\Serial0", "COM1"},
                                   {"\\Device\\VCP0", "COM12"},
                                   {"\\Device\\Serial4", "COM5"},
                                   {"\\Device\\Again", "COM5"},
                                   {"\\Device\\Odd", "LPT1"}}) {
    ASSERT_EQ(::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                               static_cast<DWORD>(std::strlen(data) + 1)),
              ERROR_SUCCESS);
  }
  ASSERT_EQ(::RegSetValueExA(key, "NotAName", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number),
            ERROR_SUCCESS);
  ::RegCloseKey(key);
  EXPECT_EQ(ReadSerialCommPorts(HKEY_CURRENT_USER, serial_comm.c_str()),
            (std::vector<std::string>{"COM5", "COM12"}));
}

TEST(Win32ModemList, PlatformListsAreThe9xBranchThenTheNtModemClass) {
  EXPECT_STREQ(kModemClassKey, "System\\CurrentControlSet\\Services\\Class\\Modem");
  EXPECT_STREQ(kNtModemClassKey,
               "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}");
  EXPECT_STREQ(kSerialCommKey, "HARDWARE\\DEVICEMAP\\SERIALCOMM");
  EXPECT_NE(dynamic_cast<RegistryModemList*>(&PlatformModemList()), nullptr);
  EXPECT_NE(dynamic_cast<RegistryModemList*>(PlatformSecondModemList()), nullptr);
  EXPECT_EQ(&TheModemList(), &PlatformModemList());
  EXPECT_EQ(TheSecondModemList(), PlatformSecondModemList());
}

// A program with the test image may use a COM port only where the test
// environment says the line is simulated: "1" and nothing else.
TEST(Win32HardwarePort, EveryComPortIsHardwareUnlessTheLineIsDeclaredSimulated) {
  for (const char* value : {static_cast<const char*>(nullptr), "", "0", "yes", "11", " 1"}) {
    EXPECT_TRUE(ComPortIsHardware(value)) << (value ? value : "(unset)");
  }
  EXPECT_FALSE(ComPortIsHardware("1"));

  char saved[16] = {};
  const DWORD had = ::GetEnvironmentVariableA(kSimulatedLineVariable, saved, sizeof saved);
  SerialBackend& backend = PlatformSerialBackend();
  ASSERT_TRUE(::SetEnvironmentVariableA(kSimulatedLineVariable, nullptr));
  EXPECT_TRUE(backend.IsHardwarePort("COM1"));
  ASSERT_TRUE(::SetEnvironmentVariableA(kSimulatedLineVariable, "11"));
  EXPECT_TRUE(backend.IsHardwarePort("COM1"));
  ASSERT_TRUE(::SetEnvironmentVariableA(kSimulatedLineVariable, "1"));
  EXPECT_FALSE(backend.IsHardwarePort("COM1"));
  EXPECT_FALSE(backend.IsHardwarePort("COM7"));
  ::SetEnvironmentVariableA(kSimulatedLineVariable, had > 0 && had < sizeof saved ? saved : nullptr);
}

}  // namespace
}  // namespace mfu
