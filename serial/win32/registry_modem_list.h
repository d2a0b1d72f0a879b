// The installed-modem lists from the registry: one subkey per modem under
// HKEY_LOCAL_MACHINE "System\CurrentControlSet\Services\Class\Modem"
// (Windows 95/98) or the NT modem class (Windows 2000 and later), read only.
#pragma once

#include <windows.h>

#include <string>

#include "serial/modem_list.h"

namespace mfu {

inline constexpr const char* kModemClassKey = "System\\CurrentControlSet\\Services\\Class\\Modem";
// Windows 2000 and later: the modem device class, subkeys "0000", "0001", ...
// with the same "Model" and "AttachedTo" values.
inline constexpr const char* kNtModemClassKey =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";

class RegistryModemList final : public InstalledModemList {
 public:
  // The list under `root`\`path`; tests point it at a key of their own.
  RegistryModemList(HKEY root, std::string path);

  bool OpenList(KeyHandle& list) override;
  bool EnumSubkey(KeyHandle list, std::uint32_t index, char* name, std::uint32_t& name_size) override;
  bool OpenSubkey(KeyHandle list, const char* name, KeyHandle& subkey) override;
  bool QueryValue(KeyHandle key, const char* value_name, char* buffer, std::uint32_t& size) override;
  void CloseKey(KeyHandle key) override;

 private:
  HKEY root_;
  std::string path_;
};

}  // namespace mfu
