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

}  // namespace mfu
