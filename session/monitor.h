// The session monitor: a worker thread that turns the update's events into
// what the user sees. It starts the sender on the user's confirmed start,
// reports success (firmware name and date) or failure (with the retry hint)
// and gives back the buttons; on quit it closes the port.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "platform/event.h"

namespace mfu {

// The monitor's events (automatic reset), created by StartSessionMonitor in
// this order, with ReadCompleteEvent and WriteCompleteEvent, and closed by
// StopSessionMonitor.
extern EventHandle QuitMonitorEvent;
extern EventHandle StartUpdateEvent;
extern EventHandle UpdateSucceededEvent;
extern EventHandle UpdateFailedEvent;

// True when the port's status lines show a modem (CTS or DSR), the six
// events exist and the thread runs. Window thread.
bool StartSessionMonitor();

// Window thread. Asks the monitor to quit (it closes the port), waits up to
// 5000 ms and joins it, then stops the sender the same way and closes the
// six events. Does nothing when the monitor was never started.
void StopSessionMonitor();

// True from StartSessionMonitor's success to StopSessionMonitor.
bool SessionMonitorExists();

// The last outcome the monitor reported.
enum class Outcome { kNone, kSucceeded, kFailed };
Outcome LastOutcome();

// Waits until the monitor has served every event set so far (its reports are
// in the log). false when `limit` passed first or no monitor runs. Any
// thread but the monitor's; not at the same time as StopSessionMonitor.
bool WaitUntilMonitorIdle(Millis limit);

// The success report's date line text: `seconds` since 1970 as asctime
// shows it, with everything after the year's last digit trimmed.
void FormatFirmwareDate(std::int64_t seconds, char* text, std::size_t capacity);

}  // namespace mfu
