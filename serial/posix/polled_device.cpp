#include "serial/posix/polled_device.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/clock.h"

namespace mfu {

PolledDevice::~PolledDevice() {
  // This class's own Close: a backend's part of the device is gone by now.
  PolledDevice::Close();
  ::close(fd_);
  ::close(read_wake_);
  ::close(write_wake_);
}

bool PolledDevice::GetTimeouts(PortSettings& timeouts) {
  if (closed_.load()) return false;
  const std::uint32_t interval = interval_ms_.load();
  timeouts.bytes.resize(sizeof interval);
  std::memcpy(timeouts.bytes.data(), &interval, sizeof interval);
  return true;
}

bool PolledDevice::SetTimeouts(const PortSettings& timeouts) {
  if (closed_.load() || timeouts.bytes.size() != sizeof(std::uint32_t)) return false;
  std::uint32_t interval = 0;
  std::memcpy(&interval, timeouts.bytes.data(), sizeof interval);
  interval_ms_.store(interval);
  return true;
}

bool PolledDevice::ApplyWorkingTimeouts() {
  if (closed_.load()) return false;
  interval_ms_.store(kWorkingIntervalMs);
  return true;
}

IoResult PolledDevice::StartRead(std::uint8_t* buffer, std::uint32_t max) {
  std::lock_guard<std::mutex> guard(read_lock_);
  // Re-arming ends an earlier read that is still pending. What it has not
  // taken stays on the line for this one; what it has taken (a burst its
  // limit cut short) is the modem's answer nobody has fetched yet, and
  // becomes this read's result rather than being lost. A purge dropped it.
  const ReadRecord earlier = read_;
  read_ = ReadRecord{};
  if (closed_.load()) return Failed(kErrorInvalidHandle, 0);
  read_.armed = true;
  read_.buffer = buffer;
  read_.max = max;
  read_.generation = purge_generation_.load();
  if (earlier.armed && !earlier.finished && earlier.count > 0 && earlier.generation == read_.generation) {
    read_.count = std::min(earlier.count, max);
    if (earlier.buffer != buffer) std::memmove(buffer, earlier.buffer, read_.count);
    read_.finished = true;
    return IoResult{IoResult::State::kCompleted, read_.count, kErrorSuccess};
  }
  if (max == 0) {
    read_.finished = true;
    return IoResult{IoResult::State::kCompleted, 0, kErrorSuccess};
  }
  return IoResult{IoResult::State::kPending, 0, kErrorIoPending};
}

bool PolledDevice::WaitRead(Millis limit) {
  std::lock_guard<std::mutex> guard(read_lock_);
  if (!read_.armed || read_.finished) return true;
  return RunRead(DeadlineAfter(limit), false);
}

IoResult PolledDevice::ReadResult() {
  std::lock_guard<std::mutex> guard(read_lock_);
  if (!read_.armed) return IoResult{IoResult::State::kCompleted, 0, kErrorSuccess};
  if (!read_.finished && !RunRead(Clock::now(), true)) return Failed(kErrorIoIncomplete, 0);
  if (read_.error != kErrorSuccess) {
    IoResult failed = Failed(read_.error, read_.count);
    failed.system_error = read_.system_error;
    return failed;
  }
  return IoResult{IoResult::State::kCompleted, read_.count, kErrorSuccess};
}

void PolledDevice::Close() {
  if (closed_.exchange(true)) return;
  Wake(read_wake_);
  Wake(write_wake_);
}

bool PolledDevice::RunRead(Clock::time_point limit_at, bool take_begun_burst) {
  Drain(read_wake_);
  for (;;) {
    if (closed_.load() || purge_generation_.load() != read_.generation) {
      read_.Finish(kErrorOperationAborted);
      return true;
    }
    const Step step = TakeInput(read_);
    if (step == Step::kEnded) return true;
    if (read_.count >= read_.max) {
      read_.Finish(kErrorSuccess);
      return true;
    }
    if (step == Step::kMore) continue;
    const Clock::time_point now = Clock::now();
    const bool begun = read_.count > 0;
    Clock::time_point deadline = limit_at;
    if (begun) {
      const std::uint32_t interval = interval_ms_.load();
      const Clock::time_point gap_end =
          interval == 0 ? Clock::time_point::max() : read_.last_byte + RealDuration(interval);
      if (now >= gap_end) {
        read_.Finish(kErrorSuccess);
        return true;
      }
      deadline = take_begun_burst ? gap_end : std::min(gap_end, limit_at);
    }
    if (now >= deadline) return false;
    short revents = 0;
    bool woken = false;
    const int rc = PollFor(fd_, POLLIN, read_wake_, deadline, revents, woken);
    if (rc < 0 && errno != EINTR) {
      const int system_error = errno;
      read_.Finish(ErrorOfErrno(system_error), system_error);
      return true;
    }
    if (woken) Drain(read_wake_);
    if (HungUp(revents)) {
      read_.Finish(begun ? kErrorSuccess : kErrorDeviceRemoved);
      return true;
    }
  }
}

int PolledDevice::PollFor(int fd, short events, int wake_fd, Clock::time_point deadline, short& revents,
                          bool& woken) {
  pollfd fds[2] = {{fd, events, 0}, {wake_fd, POLLIN, 0}};
  int timeout_ms = -1;
  if (deadline != Clock::time_point::max()) {
    const auto left = deadline - Clock::now();
    // Rounded up, so that the wait never ends a little before the deadline.
    const auto ms = left <= Clock::duration::zero() ? 0 : std::chrono::ceil<std::chrono::milliseconds>(left).count();
    timeout_ms = ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
  }
  const int rc = ::poll(fds, 2, timeout_ms);
  revents = fds[0].revents;
  woken = (fds[1].revents & POLLIN) != 0;
  return rc;
}

void PolledDevice::Drain(int wake_fd) {
  std::uint64_t value = 0;
  while (::read(wake_fd, &value, sizeof value) > 0) {
  }
}

void PolledDevice::Wake(int wake_fd) {
  const std::uint64_t one = 1;
  (void)!::write(wake_fd, &one, sizeof one);
}

}  // namespace mfu
