// The read's time limit as every platform backend keeps it, one test body for
// all of them: a line that sends one byte every pace (under the 250 ms gap)
// never goes quiet for the gap, so only the caller's limit can end the read.
// WaitRead must give up at the limit, not late when the line at last falls
// quiet; the read stays pending with its bytes, and once the line is quiet
// the completion check takes every byte that came.
//
// Each backend's test file supplies the device and a peer at the line's far
// end, and calls ExpectReadEndsAtItsLimit from its test thread, in real time
// (time divisor 1).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "serial/serial_device.h"

namespace mfu::test {

// The line's far end.
class DribblingPeer {
 public:
  virtual ~DribblingPeer() = default;
  // Milliseconds between two bytes of a dribble. The gap less this is how
  // long the peer may stall on a loaded machine before the line falls quiet.
  virtual Millis PaceMs() const = 0;
  // Starts sending `count` bytes "abc..." (after "z" again from "a"), the
  // first at once, then one every PaceMs(); returns at once.
  virtual void Dribble(int count) = 0;
};

inline void ExpectReadEndsAtItsLimit(SerialDevice& device, DribblingPeer& peer) {
  using Clock = std::chrono::steady_clock;
  using std::chrono::milliseconds;
  constexpr Millis kLimit = 1000;
  // The line stays busy until 500 ms past the limit.
  const int bytes = static_cast<int>((kLimit + 500) / peer.PaceMs()) + 1;
  std::uint8_t buffer[64] = {};
  ASSERT_LE(bytes, static_cast<int>(sizeof buffer));

  ASSERT_EQ(device.StartRead(buffer, sizeof buffer).state, IoResult::State::kPending);
  peer.Dribble(bytes);
  const auto start = Clock::now();
  // A wait that ran on until the line fell quiet would have completed the read.
  EXPECT_FALSE(device.WaitRead(kLimit));
  const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
  std::printf("read with a %u ms limit on a dribbling line ended after %lld ms\n", static_cast<unsigned>(kLimit),
              static_cast<long long>(took.count()));
  EXPECT_GE(took, milliseconds(kLimit - 15));  // a Windows timer may round a little short
  EXPECT_LT(took, milliseconds(kLimit + 5000));  // did not hang

  // The completion check once the line has fallen quiet. Win32's check does
  // not wait for a burst that is still coming, so it is asked until then.
  const auto give_up = Clock::now() + milliseconds(static_cast<int>(peer.PaceMs()) * bytes + 10000);
  IoResult result = device.ReadResult();
  while (result.state == IoResult::State::kFailed && result.error == kErrorIoIncomplete && Clock::now() < give_up) {
    std::this_thread::sleep_for(milliseconds(20));
    result = device.ReadResult();
  }
  ASSERT_EQ(result.state, IoResult::State::kCompleted);
  ASSERT_EQ(result.count, static_cast<std::uint32_t>(bytes));
  std::string expected;
  for (int i = 0; i < bytes; ++i) expected += static_cast<char>('a' + i % 26);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer), result.count), expected);
}

}  // namespace mfu::test
