// What the POSIX serial devices (the termios port, the network port) have in
// common: a non-blocking descriptor waited on with poll(), two eventfds by
// which Close() and Purge() wake a blocked read or write, the read interval,
// and the read record. The record follows the overlapped model of the port
// code: a read is armed, waited for with a limit, and when the limit passes
// it stays armed with what it has taken so far; bytes that come later belong
// to that read, and re-arming hands its bytes to the new read. How bytes are
// fetched (read() on a tty, recv() and Telnet decoding on a socket) is the
// device's own: TakeInput().
//
// Ownership: the device owns its descriptor and its two wake descriptors
// from construction and closes them when it is destroyed. Threads: as every
// SerialDevice (one reader and one writer at a time; Close and Purge from any
// thread). The read record is guarded by a lock of its own; TakeInput runs
// with it held, on the reading thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "serial/serial_device.h"

namespace mfu {

class PolledDevice : public SerialDevice {
 public:
  ~PolledDevice() override;  // closes the descriptor and the wake descriptors

  // The read interval, saved as its 4 bytes (ms; 0: a read waits for its count).
  bool GetTimeouts(PortSettings& timeouts) override;
  bool SetTimeouts(const PortSettings& timeouts) override;
  bool ApplyWorkingTimeouts() override;

  IoResult StartRead(std::uint8_t* buffer, std::uint32_t max) override;
  bool WaitRead(Millis limit) override;
  IoResult ReadResult() override;
  void Close() override;

 protected:
  using Clock = std::chrono::steady_clock;

  // Takes over `fd` (non-blocking) and the two eventfds (non-blocking).
  PolledDevice(int fd, int read_wake, int write_wake) : fd_(fd), read_wake_(read_wake), write_wake_(write_wake) {}

  struct ReadRecord {
    bool armed = false;
    bool finished = false;
    std::uint8_t* buffer = nullptr;
    std::uint32_t max = 0;
    std::uint32_t count = 0;
    std::uint32_t error = kErrorSuccess;
    int system_error = 0;  // the errno behind `error`
    std::uint32_t generation = 0;
    Clock::time_point last_byte{};  // when the latest of its bytes was taken

    // `n` more bytes are in the buffer, taken now.
    void Took(std::uint32_t n) {
      count += n;
      last_byte = Clock::now();
    }
    void Finish(std::uint32_t code, int system_code = 0) {
      finished = true;
      error = code;
      system_error = system_code;
    }
  };

  enum class Step {
    kMore,   // bytes were taken (or an interrupted call): try again at once
    kIdle,   // nothing to take now: wait for the descriptor
    kEnded,  // the device has gone: TakeInput has finished the record
  };

  // Takes what the device has for `read` now, without waiting, into
  // read.buffer after read.count (at most read.max - read.count bytes,
  // announced with Took()). Called with the read lock held, on the reader.
  virtual Step TakeInput(ReadRecord& read) = 0;
  // The kError* code for an errno of this device.
  virtual std::uint32_t ErrorOfErrno(int error) const = 0;
  // Whether poll's `revents` for the descriptor say that the other end has
  // gone while nothing is left to read. The default: never (the next fetch
  // tells).
  virtual bool HungUp(short revents) const {
    (void)revents;
    return false;
  }

  static IoResult Failed(std::uint32_t error, std::uint32_t count) {
    return IoResult{IoResult::State::kFailed, count, error};
  }
  // Waits until `fd` has `events` or `wake_fd` can be read, at most until
  // `deadline` (time_point::max(): no limit). poll's result; `revents` are
  // those of `fd`, `woken` says whether the wake descriptor was set.
  static int PollFor(int fd, short events, int wake_fd, Clock::time_point deadline, short& revents, bool& woken);
  static void Drain(int wake_fd);  // empties a wake descriptor
  static void Wake(int wake_fd);

  // Purge's part: ends the pending read and write (kErrorOperationAborted).
  void AbortPending() {
    purge_generation_.fetch_add(1);
    Wake(read_wake_);
    Wake(write_wake_);
  }

  const int fd_;
  const int read_wake_;   // eventfd: Close and Purge wake a blocked read
  const int write_wake_;  // eventfd: Close and Purge wake a blocked write
  std::atomic<bool> closed_{false};
  std::atomic<std::uint32_t> purge_generation_{0};

 private:
  static constexpr std::uint32_t kWorkingIntervalMs = 250;

  // Runs the armed read: takes bytes until the count is in or the read
  // interval has passed after the last byte (true: the read is complete).
  // Until then it waits no longer than `limit_at` and returns false: the
  // read stays armed, the bytes taken so far stay in the record, and bytes
  // that come later are added to them. With `take_begun_burst` (the
  // completion check) a read that holds bytes is not left at `limit_at` but
  // taken to the end of its burst. Called with read_lock_ held.
  bool RunRead(Clock::time_point limit_at, bool take_begun_burst);

  std::atomic<std::uint32_t> interval_ms_{0};
  std::mutex read_lock_;
  ReadRecord read_;
};

}  // namespace mfu
