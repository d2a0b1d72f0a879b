// The resources as they are built into the program: the string table gives
// the very bytes of the compiled-in table (umlauts as Windows-1252 bytes),
// the firmware is found under the type named "RT_RCDATA", id 1005, German,
// whole, and the file properties carry the project's version.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mfu/version.h"
#include "resources/resources.h"
#include "resources/win32/module_instance.h"

namespace mfu {
namespace {

std::string Load(unsigned id, int limit = 256) {
  std::string buffer(static_cast<std::size_t>(limit), '\x7f');
  const int copied = ::LoadStringA(::GetModuleHandleA(nullptr), id, buffer.data(), limit);
  return buffer.substr(0, copied > 0 ? static_cast<std::size_t>(copied) : 0);
}

std::string Hex(const std::uint8_t* data, std::size_t size) {
  std::string text;
  char piece[3];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(piece, sizeof piece, "%02x", data[i]);
    text += piece;
  }
  return text;
}

TEST(Win32Resources, EveryTextOfTheTableLoadsWithItsExactBytes) {
  int count = 0;
  const TextEntry* table = TextTable(count);
  ASSERT_GE(count, 39);
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(Load(table[i].id), std::string(table[i].text, static_cast<std::size_t>(table[i].length)))
        << "text " << table[i].id;
  }
}

TEST(Win32Resources, UmlautsAreSingleWindows1252Bytes) {
  EXPECT_EQ(Load(2005), "\r\nUpdate l\xE4uft ...\r\n");
  EXPECT_EQ(Load(19), "Diese Log-Datei kann nicht ge\xF6" "ffnet werden");
  EXPECT_EQ(Load(2015), "\r\nDas Modem wird gepr\xFC" "ft, bitte warten ...\r\n");
  EXPECT_EQ(Load(2018), "Update l\xE4uft bereit, wollen Sie es abbrechen ?");
}

TEST(Win32Resources, LineEndsAndBlanksAreKept) {
  EXPECT_EQ(Load(2010), "\r\nSuchen nach einem KELVORA-Modem ...\r\n\r\n");
  EXPECT_EQ(Load(2001).back(), ' ');
  EXPECT_EQ(Load(2002).front(), ' ');
  EXPECT_EQ(Load(2040), "Mit Hilfe dieses Tools kann eine Firmware-Update f\xFCr Ihr Modem durchgef\xFChrt werden\n");
}

TEST(Win32Resources, SourceLoadsByTheLoadStringRules) {
  SetModuleInstance(::GetModuleHandleA(nullptr));
  ResourceSource& source = BuiltInResources();
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(source.LoadText(2009, buffer, 6), 5);
  EXPECT_STREQ(buffer, "Modem");
  EXPECT_EQ(source.LoadText(4711, buffer, 8), 0);
  EXPECT_STREQ(buffer, "");
  buffer[0] = 'x';
  EXPECT_EQ(source.LoadText(2009, buffer, 0), 0);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(source.LoadText(2009, nullptr, 8), 0);
}

TEST(Win32Resources, FirmwareIsUnderTheTypeNamedRtRcdata) {
  HMODULE module = ::GetModuleHandleA(nullptr);
  HRSRC named = ::FindResourceA(module, MAKEINTRESOURCEA(1005), "RT_RCDATA");
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(::SizeofResource(module, named), static_cast<DWORD>(MFU_TEST_FIRMWARE_SIZE));
  // Not the predefined numeric raw-data type.
  EXPECT_EQ(::FindResourceA(module, MAKEINTRESOURCEA(1005), MAKEINTRESOURCEA(10)), nullptr);
  // German, 1031.
  EXPECT_NE(::FindResourceExA(module, "RT_RCDATA", MAKEINTRESOURCEA(1005), MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)),
            nullptr);
  EXPECT_EQ(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), 1031);
}

TEST(Win32Resources, SourceFindsTheWholeImage) {
  SetModuleInstance(::GetModuleHandleA(nullptr));
  FirmwareImage image;
  ASSERT_EQ(BuiltInResources().FindFirmwareImage(image), FirmwareLookup::kFound);
  ASSERT_EQ(image.size, static_cast<std::uint32_t>(MFU_TEST_FIRMWARE_SIZE));
  EXPECT_EQ(Hex(image.data, 16), MFU_TEST_FIRMWARE_HEAD);
  EXPECT_EQ(Hex(image.data + image.size - 16, 16), MFU_TEST_FIRMWARE_TAIL);
  // Through the seam as the sender calls it.
  SetResourceSource(&BuiltInResources());
  FirmwareImage again;
  EXPECT_EQ(FindFirmwareImage(again), FirmwareLookup::kFound);
  EXPECT_EQ(again.data, image.data);
  SetResourceSource(nullptr);
}

TEST(Win32Resources, ModuleWithoutTheImageIsNotFound) {
  // kernel32 has neither the image nor the texts.
  SetModuleInstance(::GetModuleHandleA("kernel32.dll"));
  FirmwareImage image;
  EXPECT_EQ(BuiltInResources().FindFirmwareImage(image), FirmwareLookup::kNotFound);
  EXPECT_EQ(image.data, nullptr);
  SetModuleInstance(nullptr);
  EXPECT_EQ(ModuleInstance(), ::GetModuleHandleA(nullptr));
}

TEST(Win32Resources, IconGroup128HasOne32x32SixteenColourImage) {
  HMODULE module = ::GetModuleHandleA(nullptr);
  HRSRC group = ::FindResourceA(module, MAKEINTRESOURCEA(128), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_NE(group, nullptr);
  const auto* bytes = static_cast<const std::uint8_t*>(::LockResource(::LoadResource(module, group)));
  ASSERT_NE(bytes, nullptr);
  // GRPICONDIR: reserved 0, type 1, count 1; then the entry: width 32,
  // height 32, 16 colours, planes 1, 4 bits.
  EXPECT_EQ(bytes[2] | bytes[3] << 8, 1);
  EXPECT_EQ(bytes[4] | bytes[5] << 8, 1);
  EXPECT_EQ(bytes[6], 32);
  EXPECT_EQ(bytes[7], 32);
  EXPECT_EQ(bytes[8], 16);
  EXPECT_EQ(bytes[12] | bytes[13] << 8, 4);
  EXPECT_NE(::LoadIconA(module, MAKEINTRESOURCEA(128)), nullptr);
}

TEST(Win32Resources, FilePropertiesCarryTheVersionInGerman) {
  // What Explorer's file properties read, through version.dll (loaded here:
  // nothing else in the program needs it).
  HMODULE api = ::LoadLibraryA("version.dll");
  ASSERT_NE(api, nullptr);
  using SizeFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
  // Through the generic function pointer type, which the cast warning allows.
  const auto function = [api](const char* name) { return reinterpret_cast<void (*)()>(::GetProcAddress(api, name)); };
  const auto size_of = reinterpret_cast<SizeFn>(function("GetFileVersionInfoSizeA"));
  const auto info = reinterpret_cast<InfoFn>(function("GetFileVersionInfoA"));
  const auto query = reinterpret_cast<QueryFn>(function("VerQueryValueA"));
  ASSERT_TRUE(size_of && info && query);

  char path[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
  DWORD ignored = 0;
  const DWORD size = size_of(path, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(info(path, 0, size, block.data()));

  unsigned major = 0, minor = 0, patch = 0;
  ASSERT_EQ(std::sscanf(kProgramVersion, "%u.%u.%u", &major, &minor, &patch), 3);
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(query(block.data(), "\\", &value, &length));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(minor, major));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, patch));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);

  ASSERT_TRUE(query(block.data(), "\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(static_cast<const WORD*>(value)[0], 0x0407);  // German
  EXPECT_EQ(static_cast<const WORD*>(value)[1], 1252);

  auto text = [&](const char* name) {
    const std::string key = std::string("\\StringFileInfo\\040704E4\\") + name;
    return query(block.data(), key.c_str(), &value, &length) ? std::string(static_cast<const char*>(value)) : "";
  };
  EXPECT_EQ(text("ProductVersion"), kProgramVersion);
  EXPECT_EQ(text("FileVersion"), kProgramVersion);
  EXPECT_EQ(text("ProductName"), "Modem-Update");
  EXPECT_EQ(text("OriginalFilename"), "ModemUpdate.exe");
  EXPECT_NE(text("FileDescription"), "");
  EXPECT_NE(text("CompanyName"), "");
  ::FreeLibrary(api);
}

}  // namespace
}  // namespace mfu
