// Whether a device path names a serial port of real hardware (a UART, a USB
// adapter, a virtual console: any tty driver) rather than a pseudo-terminal
// (the simulated modem's). Decided from the device numbers and sysfs alone,
// without opening the device: an open would already drop and raise DTR.
#pragma once

namespace mfu {

// True for a character device of a tty driver other than a pseudo-terminal.
// False for pseudo-terminals, for anything that is no tty, and for a path
// that does not exist. Any thread.
bool IsHardwareTty(const char* path);

// A network port (rfc2217://, tcp://) may lead to a real modem behind a
// terminal server, and nothing tells it from one that ends in a simulator:
// it counts as hardware unless the environment variable
// MODEM_UPDATE_SIMULATED_LINE is exactly "1" (set by tests only, as for the
// Windows build's COM ports). `simulated_line` is the variable's value,
// nullptr when unset. Any thread.
inline constexpr const char* kSimulatedLineVariable = "MODEM_UPDATE_SIMULATED_LINE";
bool NetworkPortIsHardware(const char* simulated_line);
// The rule applied to this process's environment. Any thread that does not
// race a setenv.
bool NetworkPortIsHardware();

}  // namespace mfu
