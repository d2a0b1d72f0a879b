#include "ui/window_gate.h"

#include <utility>

namespace mfu {

WindowGate::WindowGate(std::function<void()> wake)
    : owner_(std::this_thread::get_id()), wake_(std::move(wake)) {}

WindowGate::~WindowGate() { Close(); }

bool WindowGate::Run(const std::function<void()>& call) {
  if (OnWindowThread()) {
    call();
    return true;
  }
  Call entry{&call};
  std::unique_lock<std::mutex> guard(lock_);
  if (closing_) return false;
  // `entry` outlives its place in the queue: Drain pops it before marking it
  // done, Close clears the queue when it marks it dropped, and this call
  // returns only after one of the two.
  // cppcheck-suppress danglingLifetime
  queue_.push_back(&entry);
  // Under the lock, so that Close (and the window's destruction after it)
  // cannot overtake a wake-up that is being posted.
  if (wake_) wake_();
  changed_.wait(guard, [&] { return entry.done || entry.dropped; });
  return entry.done;
}

void WindowGate::Drain() {
  for (;;) {
    Call* entry = nullptr;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (queue_.empty()) return;
      entry = queue_.front();
      queue_.pop_front();
    }
    // The caller waits until `done`, so its function lives while it runs.
    (*entry->call)();
    {
      std::lock_guard<std::mutex> guard(lock_);
      entry->done = true;
    }
    changed_.notify_all();
  }
}

void WindowGate::Close() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    closing_ = true;
    for (Call* entry : queue_) entry->dropped = true;
    queue_.clear();
  }
  changed_.notify_all();
}

bool WindowGate::Closing() const {
  std::lock_guard<std::mutex> guard(lock_);
  return closing_;
}

std::size_t WindowGate::Pending() const {
  std::lock_guard<std::mutex> guard(lock_);
  return queue_.size();
}

}  // namespace mfu
