#include "platform/clock.h"

#include <atomic>
#include <thread>

namespace mfu {
namespace {
std::atomic<std::uint32_t> g_divisor{1};
}  // namespace

std::chrono::nanoseconds RealDuration(Millis ms) {
  if (ms == kInfinite) return std::chrono::hours(24 * 365 * 100);
  const std::uint32_t divisor = g_divisor.load(std::memory_order_relaxed);
  return std::chrono::nanoseconds(static_cast<std::int64_t>(ms) * 1'000'000 / divisor);
}

std::chrono::steady_clock::time_point DeadlineAfter(Millis ms) {
  if (ms == kInfinite) return std::chrono::steady_clock::time_point::max();
  return std::chrono::steady_clock::now() + RealDuration(ms);
}

void SleepMs(Millis ms) { std::this_thread::sleep_for(RealDuration(ms)); }

void SetTimeDivisor(std::uint32_t divisor) {
  g_divisor.store(divisor == 0 ? 1 : divisor, std::memory_order_relaxed);
}

std::uint32_t TimeDivisor() { return g_divisor.load(std::memory_order_relaxed); }

}  // namespace mfu
