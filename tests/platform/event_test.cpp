#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/event.h"

namespace mfu {
namespace {

TEST(Event, WaitForAnyReportsTheLowestSetSlot) {
  Event quit(Event::Reset::kAutomatic), start(Event::Reset::kAutomatic), done(Event::Reset::kAutomatic);
  done.Set();
  start.Set();
  EXPECT_EQ(WaitForAny({&quit, &start, &done}, 0), 1);
  EXPECT_EQ(WaitForAny({&quit, &start, &done}, 0), 2);
  EXPECT_EQ(WaitForAny({&quit, &start, &done}, 0), kWaitTimeout);
}

TEST(Event, ManualEventStaysSetUntilReset) {
  Event read_done(Event::Reset::kManual);
  read_done.Set();
  EXPECT_TRUE(read_done.Wait(0));
  EXPECT_TRUE(read_done.Wait(0));
  read_done.ResetEvent();
  EXPECT_FALSE(read_done.Wait(0));
}

TEST(Event, AutomaticEventWakesOneWaiterAndClears) {
  Event data(Event::Reset::kAutomatic);
  data.Set();
  EXPECT_TRUE(data.Wait(0));
  EXPECT_FALSE(data.IsSet());
}

TEST(Event, SetFromAnotherThreadEndsAnEndlessWait) {
  Event quit(Event::Reset::kAutomatic);
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    quit.Set();
  });
  EXPECT_EQ(WaitForAny({&quit}, kInfinite), 0);
  setter.join();
}

TEST(Event, TimedWaitEndsAfterItsLimit) {
  Event never(Event::Reset::kAutomatic);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(never.Wait(50));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(49));
  EXPECT_LT(waited, std::chrono::milliseconds(1000));
}

TEST(Event, NullSlotsAreNeverReported) {
  Event second(Event::Reset::kAutomatic);
  second.Set();
  Event* slots[] = {nullptr, &second};
  EXPECT_EQ(WaitForAny(slots, 2, 0), 1);
}

// exit() runs the static destructors while threads still run: a thread that
// waits on an event must neither hold the exit up nor have the event's lock or
// condition destroyed under it.
TEST(EventDeathTest, ExitWhileAThreadWaitsEndsTheProcess) {
  // The child starts afresh rather than forked from a process with threads.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        static Event never_set(Event::Reset::kManual);
        static std::atomic<bool> waiting{false};
        // A hung exit ends with status 3 after 10 s, not at the test's limit.
        std::thread([] {
          std::this_thread::sleep_for(std::chrono::seconds(10));
          std::_Exit(3);
        }).detach();
        std::thread([] {
          waiting = true;
          never_set.Wait(kInfinite);
        }).detach();
        while (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // well into the wait
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace mfu
