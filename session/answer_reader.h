// Reading one answer of the modem after a command, and telling the user.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace mfu {

// Reads one answer (at most 4096 bytes, `limit` ms) into ModemResponseBuffer.
// No answer: appends text 2004, shown or not. Shown: appends the answer cut
// at its first "Modem-Update", then text 2003. The answer stays in the
// buffer with its length in LastReadCount(). Caller's thread.
// Returns true when an answer came.
bool ReadModemAnswer(bool show, Millis limit);

// The flash loader's final answer, in two steps so that the session can
// decide between them whether it still counts: the read alone (nothing shown,
// the count of bytes, 0 when none came), then the answer shown as above (cut
// at "Modem-Update", without the hint to press "Update Starten"), or text
// 2004 when none came. Sender thread.
std::uint32_t ReadFinalAnswer(Millis limit);
void ShowFinalAnswer(std::uint32_t count);

}  // namespace mfu
