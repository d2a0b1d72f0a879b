#include "serial/discovery.h"

#include <cstdio>
#include <cstring>

#include "platform/event.h"
#include "serial/comm_port.h"
#include "serial/modem_list.h"

namespace mfu {
namespace {

constexpr std::uint32_t kSubkeyNameSize = 128;
constexpr std::uint32_t kValueSize = 32;
constexpr Millis kProbeAnswerTimeout = 50000;

// A bounded substring search: answers are bytes, not NUL-terminated texts.
bool Contains(const std::uint8_t* bytes, std::uint32_t length, const char* word) {
  const std::size_t n = std::strlen(word);
  for (std::size_t at = 0; at + n <= length; ++at) {
    if (std::memcmp(bytes + at, word, n) == 0) return true;
  }
  return false;
}

bool CopyPortName(char* port_name, const char* value) {
  const std::size_t length = std::strlen(value);
  // A name that does not fit is no port: the probe gets its turn.
  if (length == 0 || length >= kPortNameSize) return false;
  std::memcpy(port_name, value, length + 1);
  return true;
}

}  // namespace

bool FindModemPort(char* port_name) {
  FindModemInRegistry(port_name);
  if (port_name[0] != '\0') return true;
  return ProbeCommPorts(port_name);
}

char* ReadRegistryString(std::uintptr_t key, const char* value_name, char* buffer, std::uint32_t size) {
  std::uint32_t stored = size;
  if (!TheModemList().QueryValue(key, value_name, buffer, stored)) return nullptr;
  // A value stored without its NUL still ends inside the buffer.
  if (stored >= size) stored = size - 1;
  buffer[stored] = '\0';
  return buffer;
}

void FindModemInRegistry(char* port_name) {
  port_name[0] = '\0';
  InstalledModemList& modems = TheModemList();
  KeyHandle list = 0;
  if (!modems.OpenList(list)) return;
  KeyHandle match = 0;
  for (std::uint32_t index = 0;; ++index) {
    char name[kSubkeyNameSize];
    std::uint32_t name_size = kSubkeyNameSize;
    if (!modems.EnumSubkey(list, index, name, name_size)) break;
    name[kSubkeyNameSize - 1] = '\0';
    KeyHandle subkey = 0;
    if (!modems.OpenSubkey(list, name, subkey)) continue;
    char value[kValueSize] = {};
    if (ReadRegistryString(subkey, "Model", value, kValueSize) == nullptr) value[0] = '\0';
    if (std::strstr(value, "Orbalis 56") != nullptr || std::strstr(value, "Kelvora 56000") != nullptr) {
      // The first matching modem decides, with or without a readable port.
      value[0] = '\0';
      if (ReadRegistryString(subkey, "AttachedTo", value, kValueSize) != nullptr) CopyPortName(port_name, value);
      match = subkey;
      break;
    }
    modems.CloseKey(subkey);
  }
  if (match != 0) modems.CloseKey(match);
  modems.CloseKey(list);
}

bool IsSupportedModemAnswer(Millis limit) {
  const int count = ReadFromComm(ModemResponseBuffer, kModemResponseBufferSize, limit);
  return count > 0 && Contains(ModemResponseBuffer, static_cast<std::uint32_t>(count), "QVRLMAZZ");
}

bool ProbeCommPorts(char* port_name) {
  ResetReadRecord();
  ReadCompleteEvent = MakeEvent(Event::Reset::kManual);
  WriteCompleteEvent = MakeEvent(Event::Reset::kManual);
  bool found = false;
  for (int n = 1; n <= 4 && !found; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "COM%d", n);
    SetPortHandle(OpenCommPort(name));
    if (!PortHandle()) continue;
    std::uint32_t bits = 0;
    if (!GetCommModemStatus(bits)) {
      CloseCommPort();
      continue;
    }
    WriteToComm("ati4\r\n");
    if (IsSupportedModemAnswer(kProbeAnswerTimeout)) {
      CopyPortName(port_name, name);
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

}  // namespace mfu
