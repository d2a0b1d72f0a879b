#include "serial/posix/port_option.h"

#include <cstring>
#include <string>

#include "serial/modem_list.h"

namespace mfu {
namespace {

constexpr std::size_t kValueBufferSize = 32;

class PortOptionList final : public InstalledModemList {
 public:
  explicit PortOptionList(std::string device) : device_(std::move(device)) {}

  bool OpenList(KeyHandle& list) override {
    list = 1;
    return true;
  }
  bool EnumSubkey(KeyHandle, std::uint32_t index, char* name, std::uint32_t& name_size) override {
    if (index != 0 || name_size < 5) return false;
    std::memcpy(name, "0000", 5);
    name_size = 4;
    return true;
  }
  bool OpenSubkey(KeyHandle, const char*, KeyHandle& subkey) override {
    subkey = 2;
    return true;
  }
  bool QueryValue(KeyHandle, const char* value_name, char* buffer, std::uint32_t& size) override {
    const std::string& value = std::strcmp(value_name, "Model") == 0    ? model_
                               : std::strcmp(value_name, "AttachedTo") == 0 ? device_
                                                                            : empty_;
    if (&value == &empty_ || value.size() + 1 > size) return false;
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    size = static_cast<std::uint32_t>(value.size() + 1);
    return true;
  }
  void CloseKey(KeyHandle) override {}

 private:
  const std::string model_ = "Kelvora 56000";
  const std::string empty_;
  std::string device_;
};

}  // namespace

bool PortOptionFits(const char* device) {
  return device != nullptr && device[0] != '\0' && std::strlen(device) < kValueBufferSize;
}

void UsePortOption(const char* device) {
  static PortOptionList* list = nullptr;
  delete list;
  list = new PortOptionList(device != nullptr ? device : "");
  SetModemList(list);
}

}  // namespace mfu
