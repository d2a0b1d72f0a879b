// The --port option on Linux: the named device is taken as it is, before
// every list and without a probe. Any path the system takes will do,
// /dev/serial/by-id/... links included; the log names it as given.
#pragma once

#include <string>
#include <vector>

#include "serial/serial_device.h"

namespace mfu {

// true when `device` is not empty and shorter than the system's path limit
// (kPortNameSize with its NUL).
bool PortOptionFits(const char* device);

// --list-ports: one line per port (its path, then what is known of it:
// by-id name, driver, USB ids and strings), or a line saying there is none.
// With `modems` (--probe: one flag per port), a port where a KELVORA modem
// answered ends in "  [KELVORA-Modem]".
std::string PortListText(const std::vector<PortEntry>& ports, const std::vector<bool>* modems = nullptr);

}  // namespace mfu
