#include "platform/event.h"

#include <condition_variable>
#include <mutex>

namespace mfu {
namespace {

// One lock and one condition for all events: a wait for any of several events
// then needs no registration, and the events of this program are few and
// rarely set, so waking every waiter costs nothing worth measuring.
//
// Made once and never destroyed: exit() runs the static destructors while
// worker threads may still wait here (the toolkit calls exit() from the GUI
// thread when it loses its display), and destroying a condition variable that
// a thread waits on blocks the exiting thread for good. The pointer keeps the
// pair reachable, so it is no leak.
struct EventSync {
  std::mutex lock;
  std::condition_variable changed;
};

EventSync& Sync() {
  static EventSync* const sync = new EventSync;
  return *sync;
}
std::mutex& Lock() { return Sync().lock; }
std::condition_variable& Changed() { return Sync().changed; }

}  // namespace

Event::Event(Reset reset) : reset_(reset) {}

void Event::Set() {
  {
    std::lock_guard<std::mutex> guard(Lock());
    signalled_ = true;
  }
  Changed().notify_all();
}

void Event::ResetEvent() {
  std::lock_guard<std::mutex> guard(Lock());
  signalled_ = false;
}

bool Event::IsSet() const {
  std::lock_guard<std::mutex> guard(Lock());
  return signalled_;
}

bool Event::Wait(Millis limit) {
  Event* self = this;
  return WaitForAny(&self, 1, limit) == 0;
}

int WaitForAny(Event* const* events, std::size_t count, Millis limit) {
  const auto deadline = DeadlineAfter(limit);
  std::unique_lock<std::mutex> guard(Lock());
  for (;;) {
    for (std::size_t slot = 0; slot < count; ++slot) {
      Event* event = events[slot];
      if (event != nullptr && event->signalled_) {
        if (event->reset_ == Event::Reset::kAutomatic) event->signalled_ = false;
        return static_cast<int>(slot);
      }
    }
    if (limit == kInfinite) {
      Changed().wait(guard);
    } else if (Changed().wait_until(guard, deadline) == std::cv_status::timeout) {
      // One last look: an event set right at the deadline still counts.
      for (std::size_t slot = 0; slot < count; ++slot) {
        Event* event = events[slot];
        if (event != nullptr && event->signalled_) {
          if (event->reset_ == Event::Reset::kAutomatic) event->signalled_ = false;
          return static_cast<int>(slot);
        }
      }
      return kWaitTimeout;
    }
  }
}

}  // namespace mfu
