// The machine's local time on Windows: GetLocalTime, the call the log export's
// header has always been stamped with.
#include <windows.h>

#include "platform/local_time.h"

namespace mfu {

LocalTime SystemLocalTime() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace mfu
