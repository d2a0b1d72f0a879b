// Reading one answer of the modem after a command, and telling the user.
#pragma once

#include <cstdint>
#include <span>

#include "platform/clock.h"
#include "serial/comm_port.h"

namespace mfu {

// Reads one answer on `port` (at most 4096 bytes, `limit` ms) into
// ModemResponseBuffer; bytes still coming in at the limit are the answer as
// far as it came. No answer: appends text 2004, shown or not (unless the
// port's waits were interrupted). Shown: appends the answer cut at its first
// "Modem-Update", then text 2003. Caller's thread.
// Returns true when an answer came.
bool ReadModemAnswer(CommPort& port, bool show, Millis limit);

// The flash loader's final answer, in two steps so that the session can
// decide between them whether it still counts: the read alone (nothing shown;
// the bytes the read delivered, also those in it when its limit passed while
// they still came; empty when none came; valid until the next read into
// ModemResponseBuffer), then the answer shown as above (cut at
// "Modem-Update", without the hint to press "Update Starten"), or text 2004
// when none came. Sender thread.
std::span<const std::uint8_t> ReadFinalAnswer(CommPort& port, Millis limit);
void ShowFinalAnswer(const CommPort& port, std::span<const std::uint8_t> answer);

}  // namespace mfu
