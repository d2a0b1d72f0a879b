// The Win32 serial device: a port opened exclusively and overlapped by
// CreateFileA ("\\.\COMn"), driven by the communications calls one for one.
//
// Threads: one reader and one writer at a time, as the seam says; Close()
// from any thread cancels what is in flight (CancelIoEx) and wakes the
// waits. The handle itself is closed by the destructor, after every
// operation on it has ended, so that no thread ever uses a closed handle and
// the kernel never writes into a freed overlapped record.
//
// A read that timed out stays pending with the caller's buffer. When the
// record is armed again before its result was fetched, the old read is first
// cancelled and waited for (a record may be reused only once its operation is
// over); the bytes it had already taken are not dropped but handed out as
// the result of the new read, which then completes at once with them.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "serial/serial_device.h"

namespace mfu {

class Win32SerialDevice final : public SerialDevice {
 public:
  // Takes ownership of `handle` (opened with FILE_FLAG_OVERLAPPED).
  explicit Win32SerialDevice(HANDLE handle);
  ~Win32SerialDevice() override;

  bool GetState(PortSettings& state) override;
  bool SetState(const PortSettings& state) override;
  bool ApplyWorkingState(const PortSettings& saved) override;
  bool GetTimeouts(PortSettings& timeouts) override;
  bool SetTimeouts(const PortSettings& timeouts) override;
  bool ApplyWorkingTimeouts() override;
  bool SetupQueues(std::uint32_t input, std::uint32_t output) override;
  bool SetDtr(bool on) override;
  bool Purge() override;
  bool ClearErrors() override;
  bool GetModemStatus(std::uint32_t& bits, std::uint32_t& error) override;
  IoResult StartWrite(const std::uint8_t* data, std::uint32_t count) override;
  IoResult FinishWrite() override;
  IoResult StartRead(std::uint8_t* buffer, std::uint32_t max) override;
  bool WaitRead(Millis limit) override;
  IoResult ReadResult() override;
  void Close() override;

 private:
  enum class ReadState { kIdle, kPending, kDone };

  bool Closed() const { return closed_.load(); }
  // Cancels the pending read and waits until the system is done with the
  // record; returns the bytes it had taken. read_lock_ held.
  DWORD EndPendingRead();
  IoResult FetchReadResult(bool wait);

  HANDLE handle_;
  HANDLE read_event_;   // manual reset, the read record's event
  HANDLE write_event_;  // manual reset, the write record's event
  HANDLE close_event_;  // manual reset, set by Close()
  std::atomic<bool> closed_{false};

  std::mutex read_lock_;
  OVERLAPPED read_record_{};
  ReadState read_state_ = ReadState::kIdle;
  std::uint8_t* read_buffer_ = nullptr;
  IoResult read_result_;

  std::mutex write_lock_;
  OVERLAPPED write_record_{};
  // Set under write_lock_; Purge reads them from any thread.
  std::atomic<bool> write_pending_{false};
  std::atomic<bool> wrote_{false};  // a write of ours has completed
};

// Real milliseconds for a wait of `limit` program milliseconds (the time
// seam), INFINITE for kInfinite.
DWORD WaitMillis(Millis limit);

}  // namespace mfu
