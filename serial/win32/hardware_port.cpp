#include "serial/win32/hardware_port.h"

#include <windows.h>

#include <cstring>

namespace mfu {

bool ComPortIsHardware(const char* simulated_line) {
  return simulated_line == nullptr || std::strcmp(simulated_line, "1") != 0;
}

bool ComPortIsHardware() {
  // For tests only: the Wine runs set MODEM_UPDATE_SIMULATED_LINE=1 so that
  // the program with the test image sends it to modem-sim's line. A value
  // longer than "1" does not fit and counts as unset.
  char value[2] = {};
  const DWORD length = ::GetEnvironmentVariableA(kSimulatedLineVariable, value, sizeof value);
  if (length == 0 || length >= sizeof value) return ComPortIsHardware(nullptr);
  return ComPortIsHardware(value);
}

}  // namespace mfu
