// Linux keeps no list of installed modems: the list is empty and cannot be
// opened, so discovery goes on to the quick scan and the probe.
#include "serial/modem_list.h"

namespace mfu {
namespace {

class NoModemList final : public InstalledModemList {
 public:
  bool OpenList(KeyHandle& list) override {
    list = 0;
    return false;
  }
  bool EnumSubkey(KeyHandle, std::uint32_t, char*, std::uint32_t&) override { return false; }
  bool OpenSubkey(KeyHandle, const char*, KeyHandle& subkey) override {
    subkey = 0;
    return false;
  }
  bool QueryValue(KeyHandle, const char*, char*, std::uint32_t&) override { return false; }
  void CloseKey(KeyHandle) override {}
};

}  // namespace

InstalledModemList& PlatformModemList() {
  static NoModemList list;
  return list;
}

InstalledModemList* PlatformSecondModemList() { return nullptr; }

}  // namespace mfu
