// The serial ports Windows names under HKEY_LOCAL_MACHINE
// "HARDWARE\DEVICEMAP\SERIALCOMM" (one value per port, its data "COMn"):
// where a USB adapter's port shows up (COM5 and up) on Windows 2000 and later.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace mfu {

inline constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// The "COMn" names under `root`\`path` other than COM1 to COM4, each once,
// by rising number; empty when the key does not exist. Any thread.
std::vector<std::string> ReadSerialCommPorts(HKEY root, const char* path);

}  // namespace mfu
