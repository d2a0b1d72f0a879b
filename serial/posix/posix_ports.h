// What the termios backend knows of the system's serial ports beyond opening
// one: the name a port is opened under, the ports that exist (libudev), and
// who else holds one (/proc). Any thread; each call reads the system afresh.
#pragma once

#include <string>
#include <vector>

#include "serial/serial_device.h"

namespace mfu {

// The device path a port name stands for: COM1 to COM4 are /dev/ttyS0 to
// /dev/ttyS3 (the probe's names), every other name is a path as given.
std::string DevicePath(const char* port_name);

// What tells the device at `path` from others (SerialBackend::DeviceKey):
// its device numbers when it is a character device, else the path.
std::string DeviceKeyOf(const std::string& path);

// Every USB serial adapter (ttyUSB*, ttyACM*) and every ttyS* port with a
// UART behind it, adapters first, each kind in number order. Empty when the
// system cannot be asked.
std::vector<PortEntry> ListSerialPorts();

// The processes other than this one that have the device at `path` open (a
// symlink counts as its target), looked up under `proc` (the proc file
// system's root). The process holding a pseudo-terminal's master side is the
// far end of the line, not a rival, and is left out. `hidden`, when given,
// tells whether processes exist whose descriptors this user may not read
// (other users'): one of them may hold the port unseen.
std::vector<PortHolder> FindOtherHolders(const std::string& path, const std::string& proc = "/proc",
                                         bool* hidden = nullptr);

// Whether a process whose command name is `name` runs (its comm under
// `proc`, readable by every user).
bool ProcessRuns(const std::string& name, const std::string& proc = "/proc");

}  // namespace mfu
