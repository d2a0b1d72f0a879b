// Events as the session uses them: manual or automatic reset, waited on one at
// a time or several at once, where a wait for any reports the lowest set slot
// (quit before start, start before success, success before failure).
#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>

#include "platform/clock.h"

namespace mfu {

class Event {
 public:
  enum class Reset { kManual, kAutomatic };

  explicit Event(Reset reset);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Any thread.
  void Set();
  void ResetEvent();
  bool IsSet() const;

  // Waits up to `limit` program ms; true when the event was set (an automatic
  // event is cleared by the wait that takes it). Any thread.
  bool Wait(Millis limit);

 private:
  friend int WaitForAny(Event* const* events, std::size_t count, Millis limit);
  const Reset reset_;
  bool signalled_ = false;  // guarded by the process-wide event lock
};

inline constexpr int kWaitTimeout = -1;

// Waits until any of the events is set and returns its slot (the lowest one
// when several are set), or kWaitTimeout after `limit`. A null slot is never
// reported. The automatic event reported is cleared; the others stay as they
// are. Any thread.
int WaitForAny(Event* const* events, std::size_t count, Millis limit);
inline int WaitForAny(std::initializer_list<Event*> events, Millis limit) {
  return WaitForAny(events.begin(), events.size(), limit);
}

// An event that may not exist yet ("none"), as the session's events are
// before the session starts.
using EventHandle = std::unique_ptr<Event>;
inline EventHandle MakeEvent(Event::Reset reset) { return std::make_unique<Event>(reset); }

}  // namespace mfu
