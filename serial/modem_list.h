// The operating system's list of installed modems, in the terms of the
// registry branch it is read from on Windows (HKEY_LOCAL_MACHINE
// "System\CurrentControlSet\Services\Class\Modem", one subkey per modem).
// On Linux there is no such list; the --port option stands in for it with a
// list of one entry.
#pragma once

#include <cstdint>

namespace mfu {

using KeyHandle = std::uintptr_t;  // 0 is no key

class InstalledModemList {
 public:
  virtual ~InstalledModemList() = default;
  // RegOpenKeyExA of the list key with KEY_READ.
  virtual bool OpenList(KeyHandle& list) = 0;
  // RegEnumKeyExA: the name of subkey `index` into `name`, `name_size` bytes
  // with the NUL in, the length without it out. false ends the enumeration.
  virtual bool EnumSubkey(KeyHandle list, std::uint32_t index, char* name, std::uint32_t& name_size) = 0;
  // RegOpenKeyExA of a subkey with KEY_READ.
  virtual bool OpenSubkey(KeyHandle list, const char* name, KeyHandle& subkey) = 0;
  // RegQueryValueExA into `buffer` of `size` bytes (in: capacity, out: bytes
  // stored, NUL included). false when the value is missing or does not fit.
  virtual bool QueryValue(KeyHandle key, const char* value_name, char* buffer, std::uint32_t& size) = 0;
  virtual void CloseKey(KeyHandle key) = 0;
};

// The platform's list unless set otherwise. Set it before threads start.
InstalledModemList& TheModemList();
void SetModemList(InstalledModemList* list);

// The platform's own list: the registry branch on Windows; on Linux an empty
// list whose OpenList fails (the --port option installs its own list).
InstalledModemList& PlatformModemList();

}  // namespace mfu
