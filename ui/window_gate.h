// Carries window operations of worker threads over to the window's own
// thread, the way a synchronous window message does, but with a way out: once
// the window is closing, a worker's call returns at once without effect, so
// that a stop procedure on the window thread that waits for a worker can never
// be held up by the window.
//
// The toolkit side supplies `wake`, which must make the window thread call
// Drain() soon (post an event, a message); it is called with the gate's lock
// held, so it must only post, never run a call itself.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace mfu {

class WindowGate {
 public:
  // The window thread is the thread that constructs the gate.
  explicit WindowGate(std::function<void()> wake);
  WindowGate(const WindowGate&) = delete;
  WindowGate& operator=(const WindowGate&) = delete;
  // Releases whatever still waits (as Close does).
  ~WindowGate();

  // Runs `call` on the window thread and returns true once it has run. On the
  // window thread itself it runs at once, never waiting on itself. From any
  // other thread it is queued behind earlier calls and the caller waits; it
  // returns false without running the call when the window is closing, or
  // starts to close while the call is still queued. A call that has already
  // begun on the window thread is always finished first.
  bool Run(const std::function<void()>& call);

  // Window thread: runs the queued calls in order, including calls queued
  // while it runs. May be entered again from inside a call (a modal loop).
  void Drain();

  // Any thread: the window is closing. Queued calls are dropped and their
  // callers released; later calls of other threads return at once.
  void Close();
  bool Closing() const;

  bool OnWindowThread() const { return std::this_thread::get_id() == owner_; }

  // Calls queued and not yet begun (for tests).
  std::size_t Pending() const;

 private:
  struct Call {
    const std::function<void()>* call;
    bool done = false;
    bool dropped = false;
  };

  const std::thread::id owner_;
  const std::function<void()> wake_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Call*> queue_;
  bool closing_ = false;
};

}  // namespace mfu
