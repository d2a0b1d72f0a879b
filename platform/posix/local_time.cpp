#include <ctime>

#include "platform/local_time.h"

namespace mfu {

LocalTime SystemLocalTime() {
  // localtime_r, not localtime: the export may run while another thread
  // formats a date, and localtime's static result would be shared.
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  if (localtime_r(&now, &parts) == nullptr) return LocalTime{1970, 1, 1, 0, 0, 0};
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
}

}  // namespace mfu
