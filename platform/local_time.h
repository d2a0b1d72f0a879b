// Local-time seam: the wall-clock date and time of the machine, as the log
// export stamps its header with it. Tests fix the time so that a header's
// bytes are known in advance.
#pragma once

namespace mfu {

struct LocalTime {
  int year;    // four digits, e.g. 2026
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;  // 0..59
  int second;  // 0..59 (60 on a leap second)
};

// The local time now, or the time fixed by SetLocalTimeForTest. Any thread.
LocalTime GetLocalTime();

// Tests only: every GetLocalTime() returns *fixed from now on (copied);
// nullptr goes back to the system's clock. Any thread.
void SetLocalTimeForTest(const LocalTime* fixed);

// The operating system's local time, ignoring any fixed time. One per OS
// (platform/posix, platform/win32).
LocalTime SystemLocalTime();

}  // namespace mfu
