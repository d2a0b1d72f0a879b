#include "serial/win32/serial_comm_ports.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace mfu {
namespace {

class Key {
 public:
  Key(HKEY root, const char* path) {
    if (::RegOpenKeyExA(root, path, 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~Key() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// n of "COMn" (any letter case), or 0.
int ComNumber(const std::string& name) {
  if (name.size() < 4 || ::_strnicmp(name.c_str(), "COM", 3) != 0) return 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
  }
  return std::atoi(name.c_str() + 3);
}

}  // namespace

std::vector<std::string> ReadSerialCommPorts(HKEY root, const char* path) {
  std::vector<std::string> ports;
  const Key key(root, path);
  if (key.get() == nullptr) return ports;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD name_size = sizeof name;
    char data[64] = {};
    DWORD data_size = sizeof data - 1;  // room for a NUL the value may lack
    DWORD type = 0;
    const LONG result = ::RegEnumValueA(key.get(), index, name, &name_size, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &data_size);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;  // a value too long is no COM name either
    const std::string port(data, ::strnlen(data, data_size));
    if (ComNumber(port) > 4 && std::find(ports.begin(), ports.end(), port) == ports.end()) ports.push_back(port);
  }
  std::sort(ports.begin(), ports.end(),
            [](const std::string& a, const std::string& b) { return ComNumber(a) < ComNumber(b); });
  return ports;
}

}  // namespace mfu
