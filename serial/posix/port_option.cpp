#include "serial/posix/port_option.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "serial/modem_list.h"

namespace mfu {
namespace {

constexpr KeyHandle kListKey = 1;
constexpr KeyHandle kEntryKey = 2;
constexpr const char* kSubkeyName = "0000";
constexpr const char* kModel = "Kelvora 56000";

bool CopyValue(const std::string& value, char* buffer, std::uint32_t& size) {
  const auto needed = static_cast<std::uint32_t>(value.size() + 1);
  if (buffer == nullptr || size < needed) {
    size = needed;
    return false;
  }
  std::memcpy(buffer, value.c_str(), needed);
  size = needed;
  return true;
}

class PortOptionList final : public InstalledModemList {
 public:
  void SetDevice(const char* device) { device_ = device != nullptr ? device : ""; }

  bool OpenList(KeyHandle& list) override {
    list = kListKey;
    return true;
  }

  bool EnumSubkey(KeyHandle list, std::uint32_t index, char* name, std::uint32_t& name_size) override {
    const auto length = static_cast<std::uint32_t>(std::strlen(kSubkeyName));
    if (list != kListKey || index != 0 || name == nullptr || name_size < length + 1) return false;
    std::memcpy(name, kSubkeyName, length + 1);
    name_size = length;
    return true;
  }

  bool OpenSubkey(KeyHandle list, const char* name, KeyHandle& subkey) override {
    if (list != kListKey || name == nullptr || std::strcmp(name, kSubkeyName) != 0) return false;
    subkey = kEntryKey;
    return true;
  }

  bool QueryValue(KeyHandle key, const char* value_name, char* buffer, std::uint32_t& size) override {
    if (key != kEntryKey || value_name == nullptr) return false;
    if (std::strcmp(value_name, "Model") == 0) return CopyValue(kModel, buffer, size);
    if (std::strcmp(value_name, "AttachedTo") == 0) return CopyValue(device_, buffer, size);
    return false;
  }

  void CloseKey(KeyHandle) override {}

 private:
  std::string device_;
};

PortOptionList& OptionList() {
  static PortOptionList list;
  return list;
}

}  // namespace

bool PortOptionFits(const char* device) {
  return device != nullptr && device[0] != '\0' && std::strlen(device) < kPortOptionValueSize;
}

void UsePortOption(const char* device) {
  OptionList().SetDevice(device);
  SetModemList(&OptionList());
}

}  // namespace mfu
