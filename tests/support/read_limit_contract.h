// The read's time limit as every platform backend keeps it, one test body for
// all of them: a line that sends one byte every 200 ms never goes quiet for
// the 250 ms gap, so only the caller's limit can end the read. WaitRead must
// give up at the limit, not late when the line at last falls quiet; the read
// stays pending with its bytes, and once the line is quiet the completion
// check takes every byte that came.
//
// Each backend's test file supplies the device and a peer at the line's far
// end, and calls ExpectReadEndsAtItsLimit from its test thread, in real time
// (time divisor 1).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

#include "serial/serial_device.h"

namespace mfu::test {

// The line's far end.
class DribblingPeer {
 public:
  virtual ~DribblingPeer() = default;
  // Starts sending `count` bytes "abc...", the first at once, then one every
  // 200 ms; returns at once.
  virtual void Dribble(int count) = 0;
};

inline void ExpectReadEndsAtItsLimit(SerialDevice& device, DribblingPeer& peer) {
  using Clock = std::chrono::steady_clock;
  using std::chrono::milliseconds;
  constexpr Millis kLimit = 1000;
  constexpr int kBytes = 8;  // the last one 1400 ms after the first: past the limit
  std::uint8_t buffer[64] = {};

  ASSERT_EQ(device.StartRead(buffer, sizeof buffer).state, IoResult::State::kPending);
  peer.Dribble(kBytes);
  const auto start = Clock::now();
  EXPECT_FALSE(device.WaitRead(kLimit));
  const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
  std::printf("read with a %u ms limit on a dribbling line ended after %lld ms\n", static_cast<unsigned>(kLimit),
              static_cast<long long>(took.count()));
  EXPECT_GE(took, milliseconds(kLimit - 15));  // a timer may round a little short
  EXPECT_LT(took, milliseconds(kLimit + 150));

  // The last byte, then the gap, then some slack for a loaded machine.
  std::this_thread::sleep_until(start + milliseconds(200 * (kBytes - 1) + 250 + 300));
  const IoResult result = device.ReadResult();
  ASSERT_EQ(result.state, IoResult::State::kCompleted);
  ASSERT_EQ(result.count, static_cast<std::uint32_t>(kBytes));
  EXPECT_EQ(std::memcmp(buffer, "abcdefgh", kBytes), 0);
}

}  // namespace mfu::test
