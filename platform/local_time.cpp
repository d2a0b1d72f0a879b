#include "platform/local_time.h"

#include <mutex>
#include <optional>

namespace mfu {
namespace {
std::mutex g_lock;
std::optional<LocalTime> g_fixed;
}  // namespace

LocalTime GetLocalTime() {
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_fixed) return *g_fixed;
  }
  return SystemLocalTime();
}

void SetLocalTimeForTest(const LocalTime* fixed) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (fixed != nullptr) {
    g_fixed = *fixed;
  } else {
    g_fixed.reset();
  }
}

}  // namespace mfu
