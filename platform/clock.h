// Time seam: every sleep and time limit of the program goes through here, so
// that tests can run the 50 s and 60 s limits of the modem dialogue in a
// fraction of that. Durations are given in milliseconds as the program names
// them ("wait 60000 ms for the ZACK"); the divisor maps them to real time.
#pragma once

#include <chrono>
#include <cstdint>

namespace mfu {

using Millis = std::uint32_t;

// A time limit that never ends (the platform's INFINITE).
inline constexpr Millis kInfinite = 0xFFFFFFFFu;

// Real time that `ms` program milliseconds stand for. kInfinite maps to a
// duration so long that no wait ever reaches it.
std::chrono::nanoseconds RealDuration(Millis ms);

// Deadline `ms` program milliseconds from now (steady clock); kInfinite gives
// time_point::max().
std::chrono::steady_clock::time_point DeadlineAfter(Millis ms);

// Sleeps `ms` program milliseconds. Any thread.
void SleepMs(Millis ms);

// Tests only: every program millisecond lasts 1/divisor real milliseconds.
// 1 (the default) is real time. Set it before threads start.
void SetTimeDivisor(std::uint32_t divisor);
std::uint32_t TimeDivisor();

}  // namespace mfu
