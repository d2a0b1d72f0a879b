// Linux has no list of installed modems: the platform's list is empty (its
// key never opens), so discovery goes straight to the probe unless the
// --port option has installed a list of its own.
#include "serial/modem_list.h"

namespace mfu {
namespace {

class NoInstalledModems final : public InstalledModemList {
 public:
  bool OpenList(KeyHandle&) override { return false; }
  bool EnumSubkey(KeyHandle, std::uint32_t, char*, std::uint32_t&) override { return false; }
  bool OpenSubkey(KeyHandle, const char*, KeyHandle&) override { return false; }
  bool QueryValue(KeyHandle, const char*, char*, std::uint32_t&) override { return false; }
  void CloseKey(KeyHandle) override {}
};

}  // namespace

InstalledModemList& PlatformModemList() {
  static NoInstalledModems list;
  return list;
}

}  // namespace mfu
