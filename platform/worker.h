// A worker thread that is stopped, never killed: its owner asks it to end
// (through an event it waits on) and cancels whatever it blocks in (closing
// the port ends a read, a closing window releases a caller), then joins it.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "platform/clock.h"
#include "platform/event.h"

namespace mfu {

class Worker {
 public:
  Worker() = default;
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Starts `body` on a new thread; false when the thread cannot be created.
  bool Start(std::function<void()> body);

  // Waits up to `limit` ms for the thread to end, then joins it. Returns true
  // when it ended within the limit. After the limit it still waits for the end
  // (the owner has cancelled every blocking call, so the end is near) and
  // returns false so that the owner can report the overrun.
  bool Join(Millis limit);

  // Waits up to `limit` ms for the body to return, without joining. Any
  // thread but the worker's.
  bool WaitEnded(Millis limit) { return ended_.Wait(limit); }

  bool Started() const { return started_.load(); }
  // True once the body has returned.
  bool Ended() const { return ended_.IsSet(); }

 private:
  std::thread thread_;
  Event ended_{Event::Reset::kManual};
  std::atomic<bool> started_{false};
};

}  // namespace mfu
