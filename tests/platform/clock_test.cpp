#include <gtest/gtest.h>

#include "platform/clock.h"

namespace mfu {
namespace {

TEST(Clock, DivisorShortensEveryProgramMillisecond) {
  SetTimeDivisor(100);
  EXPECT_EQ(RealDuration(50000), std::chrono::milliseconds(500));
  SetTimeDivisor(1);
  EXPECT_EQ(RealDuration(250), std::chrono::milliseconds(250));
}

TEST(Clock, InfiniteNeverEnds) {
  EXPECT_EQ(DeadlineAfter(kInfinite), std::chrono::steady_clock::time_point::max());
  EXPECT_GT(RealDuration(kInfinite), std::chrono::hours(24 * 365));
}

}  // namespace
}  // namespace mfu
