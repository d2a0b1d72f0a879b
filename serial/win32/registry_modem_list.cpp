#include "serial/win32/registry_modem_list.h"

#include <utility>

namespace mfu {
namespace {

HKEY ToKey(KeyHandle key) { return reinterpret_cast<HKEY>(key); }
KeyHandle FromKey(HKEY key) { return reinterpret_cast<KeyHandle>(key); }

}  // namespace

RegistryModemList::RegistryModemList(HKEY root, std::string path) : root_(root), path_(std::move(path)) {}

bool RegistryModemList::OpenList(KeyHandle& list) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(root_, path_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  list = FromKey(key);
  return true;
}

bool RegistryModemList::EnumSubkey(KeyHandle list, std::uint32_t index, char* name, std::uint32_t& name_size) {
  DWORD size = name_size;
  const LONG result = ::RegEnumKeyExA(ToKey(list), index, name, &size, nullptr, nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) return false;
  name_size = size;
  return true;
}

bool RegistryModemList::OpenSubkey(KeyHandle list, const char* name, KeyHandle& subkey) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(ToKey(list), name, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  subkey = FromKey(key);
  return true;
}

bool RegistryModemList::QueryValue(KeyHandle key, const char* value_name, char* buffer, std::uint32_t& size) {
  if (buffer == nullptr || size == 0) return false;
  DWORD stored = size;
  const LONG result = ::RegQueryValueExA(ToKey(key), value_name, nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(buffer), &stored);
  if (result != ERROR_SUCCESS) return false;
  // The registry does not promise a terminating NUL: a string stored without
  // one is terminated here when there is room, and refused when it fills the
  // whole buffer, so that no caller ever reads past the value.
  if (stored == 0 || buffer[stored - 1] != '\0') {
    if (stored >= size) return false;
    buffer[stored] = '\0';
    ++stored;
  }
  size = stored;
  return true;
}

void RegistryModemList::CloseKey(KeyHandle key) {
  if (key != 0) ::RegCloseKey(ToKey(key));
}

InstalledModemList& PlatformModemList() {
  static RegistryModemList list(HKEY_LOCAL_MACHINE, kModemClassKey);
  return list;
}

InstalledModemList* PlatformSecondModemList() {
  static RegistryModemList list(HKEY_LOCAL_MACHINE, kNtModemClassKey);
  return &list;
}

}  // namespace mfu
