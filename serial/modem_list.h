// The operating system's list of installed modems, in the terms of the
// registry branch it is read from on Windows (HKEY_LOCAL_MACHINE
// "System\CurrentControlSet\Services\Class\Modem", one subkey per modem).
// Windows 2000 and later keep the NT modem class instead (HKEY_LOCAL_MACHINE
// "SYSTEM\CurrentControlSet\Control\Class\{4D36E96D-...}", the same values).
// On Linux there is no such list.
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

// The lists the search reads, in order, until one gives a port: the ones a
// test has set, else the platform's. Set them before threads start.
InstalledModemList& TheModemList();
// The list read when the first gives no port; nullptr when there is none.
// SetModemList sets the first list alone (no second one); nullptr goes back
// to the platform's lists.
InstalledModemList* TheSecondModemList();
void SetModemList(InstalledModemList* list);
void SetModemLists(InstalledModemList* first, InstalledModemList* second);

// The platform's own lists: on Windows the Windows 95/98 branch, then the
// NT modem class (which Windows 2000 and later keep instead); on Linux an
// empty list whose OpenList fails, and no second one.
InstalledModemList& PlatformModemList();
InstalledModemList* PlatformSecondModemList();

}  // namespace mfu
