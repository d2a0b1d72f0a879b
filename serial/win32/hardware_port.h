// Whether a COM port may lead to a real modem. Windows tells no serial port
// of a UART or a USB adapter apart from a line that ends in a simulator (a
// test's pseudo-terminal under Wine, a virtual null-modem pair): every COM
// port counts as hardware unless the environment variable
// MODEM_UPDATE_SIMULATED_LINE is "1". That variable exists for tests only
// (the Wine runs set it); it lets a program with the test image talk to the
// simulated modem.
#pragma once

namespace mfu {

inline constexpr const char* kSimulatedLineVariable = "MODEM_UPDATE_SIMULATED_LINE";

// The rule: hardware unless `simulated_line` (the variable's value, nullptr
// when it is not set) is exactly "1". Any thread.
bool ComPortIsHardware(const char* simulated_line);

// The rule applied to this process's environment as it is now. Any thread.
bool ComPortIsHardware();

}  // namespace mfu
