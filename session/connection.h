// The connection procedure after start-up (Session::SetupCommPort): find the
// modem, open its port, check its status lines, start the session monitor and
// bring the modem into its download mode with "at@d\r\n" and "a\r\n".
#pragma once

#include "platform/clock.h"
#include "serial/discovery.h"

namespace mfu {

inline constexpr Millis kDownloadModePause = 2000;
inline constexpr Millis kCommandAnswerTimeout = 50000;

// The port the modem was found on (empty: none).
extern char PortName[kPortNameSize];

}  // namespace mfu
