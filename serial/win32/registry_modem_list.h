// The installed-modem list from the registry: one subkey per modem under
// HKEY_LOCAL_MACHINE "System\CurrentControlSet\Services\Class\Modem", read
// only.
#pragma once

#include <windows.h>

#include <string>

#include "serial/modem_list.h"

namespace mfu {

inline constexpr const char* kModemClassKey = "System\\CurrentControlSet\\Services\\Class\\Modem";

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
