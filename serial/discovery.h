// Finding the port of the supported modem: first in the installed-modem list,
// else by probing COM1 to COM4 with "ati4\r\n" for "QVRLMAZZ".
// Runs on the window thread before any other thread exists. Leaves no port
// open.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/clock.h"

namespace mfu {

// Room for a port name and its NUL: any registry value (31 characters at
// most) and the platform's device paths fit.
inline constexpr std::size_t kPortNameSize = 256;

bool FindModemPort(char* port_name);          // kPortNameSize bytes
void FindModemInRegistry(char* port_name);    // kPortNameSize bytes
char* ReadRegistryString(std::uintptr_t key, const char* value_name, char* buffer, std::uint32_t size);
bool ProbeCommPorts(char* port_name);         // kPortNameSize bytes
bool IsSupportedModemAnswer(Millis limit);

}  // namespace mfu
