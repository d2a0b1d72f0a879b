#include "platform/worker.h"

#include <system_error>

namespace mfu {

Worker::~Worker() {
  if (thread_.joinable()) thread_.join();
}

bool Worker::Start(std::function<void()> body) {
  if (thread_.joinable()) return false;
  ended_.ResetEvent();
  try {
    thread_ = std::thread([this, body = std::move(body)] {
      body();
      ended_.Set();
    });
  } catch (const std::system_error&) {
    return false;
  }
  started_ = true;
  return true;
}

bool Worker::Join(Millis limit) {
  if (!thread_.joinable()) return true;
  const bool in_time = ended_.Wait(limit);
  thread_.join();
  started_ = false;
  return in_time;
}

}  // namespace mfu
