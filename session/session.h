// The update session as the window drives it: the connection procedure after
// start-up, the confirmed start, and the stop when the window closes.
#pragma once

#include <cstdint>

namespace mfu {

// The connection procedure; runs once, on the window thread, as the handler
// of the start-up message.
void SetupCommPort();
// True when the modem answered the download-mode command "a".
bool DownloadModeAnswered();

// Cuts the connection procedure short (Ctrl-C during it): its reads and
// pauses end at once and it returns. Any thread, while it runs; the next
// procedure starts afresh.
void InterruptConnectionProcedure();
// True when the last connection procedure was cut short.
bool ConnectionProcedureInterrupted();

// True while the session monitor thread exists.
bool SessionMonitorExists();
// True while the sender thread exists.
bool SenderThreadHandle();
// The sender's state (kSenderStarting, 0: no session under way yet).
std::int32_t SenderState();

// The user confirmed the update: sets the start event.
void SignalStartUpdate();

// The user cancels an update that is still under way (a sender that has not
// come to rest, no outcome decided yet, see Outcome): the sender sends ZABORT
// before the port closes, and the log says "Update wurde unterbrochen!" with
// the retry hint. Does nothing otherwise: after the final answer came in, its
// verdict stays the run's. Window thread, before StopSessionMonitor and
// after the window has stopped waiting for workers' calls (its gate closed).
void CancelUpdate();

// Stops the monitor (which closes the port) and then the sender, each within
// 5000 ms; closes the events. Window thread.
void StopSessionMonitor();

}  // namespace mfu
