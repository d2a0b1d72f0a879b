// Finding the modem's port: the installed-modem list first, then a probe of
// COM1 to COM4. Runs on the window thread before any other thread exists.
#include "serial/discovery.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "serial/comm_port.h"
#include "serial/modem_list.h"

namespace mfu {
namespace {

constexpr std::uint32_t kSubkeyNameSize = 128;
constexpr std::uint32_t kValueSize = 32;
constexpr Millis kProbeAnswerLimit = 50000;
constexpr const char* kProbeCommand = "ati4\r\n";
constexpr const char kIdentifier[] = "QVRLMAZZ";

bool IsSupportedModel(const char* model) {
  return std::strstr(model, "Orbalis 56") != nullptr || std::strstr(model, "Kelvora 56000") != nullptr;
}

}  // namespace

char* ReadRegistryString(std::uintptr_t key, const char* value_name, char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size == 0) return nullptr;
  std::uint32_t stored = size;
  if (!TheModemList().QueryValue(key, value_name, buffer, stored)) return nullptr;
  // A string value need not carry its NUL: add it when there is room, and
  // count a value that fills the buffer without one as one that does not fit
  // (cutting it could turn a longer model name into a match).
  if (stored > size) return nullptr;
  if (std::memchr(buffer, '\0', stored) == nullptr) {
    if (stored >= size) return nullptr;
    buffer[stored] = '\0';
  }
  return buffer;
}

void FindModemInRegistry(char* port_name) {
  port_name[0] = '\0';
  InstalledModemList& modems = TheModemList();
  KeyHandle list = 0;
  if (!modems.OpenList(list)) return;

  for (std::uint32_t index = 0;; ++index) {
    char name[kSubkeyNameSize] = {};
    std::uint32_t name_size = kSubkeyNameSize;
    if (!modems.EnumSubkey(list, index, name, name_size)) break;
    name[kSubkeyNameSize - 1] = '\0';
    KeyHandle subkey = 0;
    if (!modems.OpenSubkey(list, name, subkey)) continue;

    char value[kValueSize] = {};
    if (ReadRegistryString(subkey, "Model", value, kValueSize) == nullptr) value[0] = '\0';
    if (IsSupportedModel(value)) {
      // The first supported modem decides, even when its port is unreadable.
      value[0] = '\0';
      if (ReadRegistryString(subkey, "AttachedTo", value, kValueSize) != nullptr) {
        // value holds at most kValueSize - 1 characters, well inside the
        // port name's kPortNameSize bytes.
        std::memcpy(port_name, value, std::strlen(value) + 1);
      }
      modems.CloseKey(subkey);
      break;
    }
    modems.CloseKey(subkey);
  }
  modems.CloseKey(list);
}

bool IsSupportedModemAnswer(Millis limit) {
  const int read = ReadFromComm(ModemResponseBuffer, kModemResponseBufferSize, limit);
  if (read <= 0) return false;
  // The buffer carries no terminator and may hold an earlier answer behind
  // this one: search only the bytes of this read.
  const std::uint32_t count = std::min<std::uint32_t>(LastReadCount(), kModemResponseBufferSize);
  const std::uint8_t* begin = ModemResponseBuffer;
  const std::uint8_t* end = ModemResponseBuffer + count;
  const std::uint8_t* id = reinterpret_cast<const std::uint8_t*>(kIdentifier);
  return std::search(begin, end, id, id + sizeof kIdentifier - 1) != end;
}

bool ProbeCommPorts(char* port_name) {
  port_name[0] = '\0';
  ResetReadRecord();
  ReadCompleteEvent = MakeEvent(Event::Reset::kManual);
  WriteCompleteEvent = MakeEvent(Event::Reset::kManual);

  bool found = false;
  for (int n = 1; n <= 4 && !found; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "COM%d", n);
    SetPortHandle(OpenCommPort(name));
    if (!PortHandle()) continue;
    std::uint32_t status = 0;
    if (!GetCommModemStatus(status)) {
      CloseCommPort();
      continue;
    }
    (void)WriteToComm(kProbeCommand);
    if (IsSupportedModemAnswer(kProbeAnswerLimit)) {
      std::memcpy(port_name, name, std::strlen(name) + 1);
      found = true;
    } else {
      port_name[0] = '\0';
    }
    CloseCommPort();
  }

  ReadCompleteEvent.reset();
  WriteCompleteEvent.reset();
  return found;
}

bool FindModemPort(char* port_name) {
  FindModemInRegistry(port_name);
  if (port_name[0] != '\0') return true;  // taken as it is, without a probe
  return ProbeCommPorts(port_name);
}

}  // namespace mfu
