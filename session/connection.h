// The connection procedure after start-up: find the modem, open its port,
// check its status lines, start the session monitor and bring the modem into
// its download mode with "at@d\r\n" and "a\r\n".
#pragma once

#include "platform/clock.h"
#include "serial/discovery.h"

namespace mfu {

inline constexpr Millis kDownloadModePause = 2000;
inline constexpr Millis kCommandAnswerTimeout = 50000;

// The port the modem was found on (empty: none).
extern char PortName[kPortNameSize];

// Declared for the window in session/session.h as well. Window thread.
void SetupCommPort();

// True when the last connection procedure got an answer to "a\r\n" (the
// modem showed its download mode). Any thread.
bool DownloadModeAnswered();

// Cuts the procedure short from any thread; see session/session.h.
void InterruptConnectionProcedure();
bool ConnectionProcedureInterrupted();

}  // namespace mfu
