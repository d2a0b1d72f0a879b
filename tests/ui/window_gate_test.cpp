#include "ui/window_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace mfu {
namespace {

using namespace std::chrono_literals;

// The window thread's side of a toolkit: wake-ups counted, drained by hand.
struct Loop {
  std::atomic<int> wakes{0};
  WindowGate gate{[this] { ++wakes; }};
};

void WaitFor(const std::function<bool()>& condition) {
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (!condition() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(condition());
}

TEST(WindowGate, CallOnTheWindowThreadRunsAtOnceWithoutWake) {
  Loop loop;
  int runs = 0;
  EXPECT_TRUE(loop.gate.Run([&] { ++runs; }));
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(loop.wakes.load(), 0);
  EXPECT_EQ(loop.gate.Pending(), 0u);
}

TEST(WindowGate, WorkerCallRunsOnTheWindowThreadAndTheWorkerWaits) {
  Loop loop;
  std::thread::id ran_on;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    EXPECT_TRUE(loop.gate.Run([&] { ran_on = std::this_thread::get_id(); }));
    returned = true;
  });
  WaitFor([&] { return loop.gate.Pending() == 1; });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(returned.load());  // still waiting: nothing drained yet
  EXPECT_EQ(loop.wakes.load(), 1);
  loop.gate.Drain();
  worker.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(ran_on, std::this_thread::get_id());
}

TEST(WindowGate, CallsOfABusyWindowThreadRunInOrderWhenItReturns) {
  Loop loop;
  std::vector<std::string> log;  // window thread only
  std::thread worker([&] {
    for (const char* text : {"A", "B", "C"}) loop.gate.Run([&] { log.emplace_back(text); });
  });
  // The window thread is busy (a long connection procedure) and calls the
  // window itself meanwhile: that call must not wait on itself.
  WaitFor([&] { return loop.gate.Pending() == 1; });
  loop.gate.Run([&] { log.emplace_back("S"); });
  std::this_thread::sleep_for(20ms);
  // Back in its loop it drains whatever comes, in order.
  while (log.size() < 4) {
    loop.gate.Drain();
    std::this_thread::sleep_for(1ms);
  }
  worker.join();
  EXPECT_EQ(log, (std::vector<std::string>{"S", "A", "B", "C"}));
}

TEST(WindowGate, CloseReleasesAQueuedCallWithoutRunningIt) {
  Loop loop;
  std::atomic<bool> ran{false};
  auto result = std::async(std::launch::async, [&] { return loop.gate.Run([&] { ran = true; }); });
  WaitFor([&] { return loop.gate.Pending() == 1; });
  loop.gate.Close();
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(result.get());
  loop.gate.Drain();
  EXPECT_FALSE(ran.load());
  EXPECT_TRUE(loop.gate.Closing());
}

TEST(WindowGate, AfterCloseWorkerCallsReturnAtOnceAndWindowThreadCallsStillRun) {
  Loop loop;
  loop.gate.Close();
  std::atomic<bool> ran{false};
  std::thread worker([&] { EXPECT_FALSE(loop.gate.Run([&] { ran = true; })); });
  worker.join();
  EXPECT_FALSE(ran.load());
  EXPECT_EQ(loop.wakes.load(), 0);
  int runs = 0;
  EXPECT_TRUE(loop.gate.Run([&] { ++runs; }));
  EXPECT_EQ(runs, 1);
}

TEST(WindowGate, CallQueuedDuringAModalCallIsRunByTheNestedDrain) {
  Loop loop;
  std::vector<int> order;
  std::atomic<bool> second_queued{false};
  std::thread first([&] {
    loop.gate.Run([&] {
      order.push_back(1);
      // A modal loop inside the call: it drains what other workers queue.
      WaitFor([&] { return second_queued.load(); });
      WaitFor([&] { return loop.gate.Pending() == 1; });
      loop.gate.Drain();
      order.push_back(3);
    });
  });
  WaitFor([&] { return loop.gate.Pending() == 1; });
  std::thread second([&] {
    second_queued = true;
    loop.gate.Run([&] { order.push_back(2); });
  });
  loop.gate.Drain();
  first.join();
  second.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(WindowGate, StopProcedureJoiningABlockedWorkerDoesNotDeadlock) {
  Loop loop;
  std::thread worker([&] {
    for (int i = 0; i < 1000; ++i) {
      if (!loop.gate.Run([] {})) return;  // released: the window is closing
    }
  });
  WaitFor([&] { return loop.gate.Pending() == 1; });
  // The stop on the window thread: close first, then wait for the worker,
  // without draining.
  loop.gate.Close();
  worker.join();
  SUCCEED();
}

}  // namespace
}  // namespace mfu
