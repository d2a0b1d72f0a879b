// A serial device for the fuzz targets: single-threaded, no waiting at all.
// Reads are served from queued bursts (at most the read's count from the
// front burst; the rest stays for the next read), a read with nothing queued
// times out at once, and every write is recorded. Each delivery is recorded
// too, so a target can tell which bytes a read really handed over.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "serial/serial_device.h"

namespace mfu::fuzz {

class FuzzDevice : public SerialDevice {
 public:
  using Bytes = std::vector<std::uint8_t>;

  bool GetState(PortSettings&) override { return true; }
  bool SetState(const PortSettings&) override { return true; }
  bool ApplyWorkingState(const PortSettings&) override { return true; }
  bool GetTimeouts(PortSettings&) override { return true; }
  bool SetTimeouts(const PortSettings&) override { return true; }
  bool ApplyWorkingTimeouts() override { return true; }
  bool SetupQueues(std::uint32_t, std::uint32_t) override { return true; }
  bool SetDtr(bool) override { return true; }
  bool Purge() override {
    armed_ = false;
    return true;
  }
  bool ClearErrors() override { return true; }
  bool GetModemStatus(std::uint32_t& bits, std::uint32_t& error) override {
    bits = kMsCtsOn | kMsDsrOn;
    error = kErrorSuccess;
    return true;
  }

  IoResult StartWrite(const std::uint8_t* data, std::uint32_t count) override {
    writes_.emplace_back(data, data + count);
    return IoResult{IoResult::State::kCompleted, count, 0};
  }
  IoResult FinishWrite() override { return IoResult{IoResult::State::kFailed, 0, kErrorInvalidParameter}; }

  // Always pending, like an overlapped read of a real port.
  IoResult StartRead(std::uint8_t* buffer, std::uint32_t max) override {
    buffer_ = buffer;
    max_ = max;
    armed_ = true;
    done_ = false;
    count_ = 0;
    return IoResult{IoResult::State::kPending, 0, 0};
  }
  bool WaitRead(Millis) override { return done_ || Take(); }
  IoResult ReadResult() override {
    if (!armed_) return IoResult{IoResult::State::kCompleted, 0, 0};
    if (!done_ && !Take()) return IoResult{IoResult::State::kFailed, 0, kErrorIoIncomplete};
    return IoResult{IoResult::State::kCompleted, count_, 0};
  }
  void Close() override { armed_ = false; }

  void Queue(const std::uint8_t* data, std::size_t size) {
    if (size != 0) bursts_.emplace_back(data, data + size);
  }
  const std::vector<Bytes>& Writes() const { return writes_; }
  const std::vector<Bytes>& Deliveries() const { return deliveries_; }

 private:
  bool Take() {
    if (!armed_ || bursts_.empty() || max_ == 0) return false;
    Bytes& front = bursts_.front();
    const std::size_t n = std::min<std::size_t>(front.size(), max_);
    std::memcpy(buffer_, front.data(), n);
    deliveries_.emplace_back(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(n));
    front.erase(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(n));
    if (front.empty()) bursts_.pop_front();
    count_ = static_cast<std::uint32_t>(n);
    done_ = true;
    return true;
  }

  std::deque<Bytes> bursts_;
  std::vector<Bytes> writes_;
  std::vector<Bytes> deliveries_;
  std::uint8_t* buffer_ = nullptr;
  std::uint32_t max_ = 0;
  std::uint32_t count_ = 0;
  bool armed_ = false;
  bool done_ = false;
};

}  // namespace mfu::fuzz
