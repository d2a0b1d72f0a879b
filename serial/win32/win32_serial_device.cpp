#include "serial/win32/win32_serial_device.h"

#include <chrono>
#include <cstring>
#include <string>

#include "serial/win32/hardware_port.h"
#include "serial/win32/serial_comm_ports.h"
#include "serial/win32/win32_error.h"
#include "serial/win32/working_dcb.h"

namespace mfu {
namespace {

IoResult Completed(DWORD count) { return IoResult{IoResult::State::kCompleted, count, kErrorSuccess}; }
IoResult Pending() { return IoResult{IoResult::State::kPending, 0, kErrorIoPending}; }
IoResult Failed(std::uint32_t error, DWORD count = 0) { return IoResult{IoResult::State::kFailed, count, error}; }
IoResult FailedWithLastError(DWORD count = 0) { return Failed(MapWin32Error(::GetLastError()), count); }

template <typename T>
void ToSettings(const T& value, PortSettings& settings) {
  settings.bytes.resize(sizeof(T));
  std::memcpy(settings.bytes.data(), &value, sizeof(T));
}

template <typename T>
bool FromSettings(const PortSettings& settings, T& value) {
  if (settings.bytes.size() != sizeof(T)) return false;
  std::memcpy(&value, settings.bytes.data(), sizeof(T));
  return true;
}

}  // namespace

DWORD WaitMillis(Millis limit) {
  if (limit == kInfinite) return INFINITE;
  const auto real = std::chrono::ceil<std::chrono::milliseconds>(RealDuration(limit)).count();
  if (real >= static_cast<long long>(INFINITE)) return INFINITE - 1;
  return static_cast<DWORD>(real);
}

Win32SerialDevice::Win32SerialDevice(HANDLE handle)
    : handle_(handle),
      read_event_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      write_event_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      close_event_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

Win32SerialDevice::~Win32SerialDevice() {
  Close();
  {
    std::lock_guard<std::mutex> guard(read_lock_);
    if (read_state_ == ReadState::kPending) (void)EndPendingRead();
  }
  {
    std::lock_guard<std::mutex> guard(write_lock_);
    if (write_pending_) {
      DWORD count = 0;
      (void)::GetOverlappedResult(handle_, &write_record_, &count, TRUE);
      write_pending_ = false;
    }
  }
  ::CloseHandle(handle_);
  for (HANDLE event : {read_event_, write_event_, close_event_}) {
    if (event != nullptr) ::CloseHandle(event);
  }
}

bool Win32SerialDevice::GetState(PortSettings& state) {
  if (Closed()) return false;
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  const bool ok = ::GetCommState(handle_, &dcb) != FALSE;
  ToSettings(dcb, state);
  return ok;
}

bool Win32SerialDevice::SetState(const PortSettings& state) {
  DCB dcb{};
  if (Closed() || !FromSettings(state, dcb)) return false;
  return ::SetCommState(handle_, &dcb) != FALSE;
}

bool Win32SerialDevice::ApplyWorkingState(const PortSettings& saved) {
  DCB dcb{};
  if (Closed() || !FromSettings(saved, dcb)) return false;
  DCB working = BuildWorkingDcb(dcb);
  return ::SetCommState(handle_, &working) != FALSE;
}

bool Win32SerialDevice::GetTimeouts(PortSettings& timeouts) {
  if (Closed()) return false;
  COMMTIMEOUTS value{};
  const bool ok = ::GetCommTimeouts(handle_, &value) != FALSE;
  ToSettings(value, timeouts);
  return ok;
}

bool Win32SerialDevice::SetTimeouts(const PortSettings& timeouts) {
  COMMTIMEOUTS value{};
  if (Closed() || !FromSettings(timeouts, value)) return false;
  return ::SetCommTimeouts(handle_, &value) != FALSE;
}

bool Win32SerialDevice::ApplyWorkingTimeouts() {
  if (Closed()) return false;
  // Interval 250, the rest 0: a read waits without limit for its first byte
  // and ends when its count is in or the line has been quiet for 250 ms;
  // writes have no time limit. The caller's wait bounds the whole read: one
  // still running at its limit stays pending with its bytes. The gap
  // follows the time seam like every other time of the program: 250 ms in
  // real time (divisor 1, the only one the program itself uses).
  COMMTIMEOUTS value{};
  value.ReadIntervalTimeout = WaitMillis(250);
  value.ReadTotalTimeoutMultiplier = 0;
  value.ReadTotalTimeoutConstant = 0;
  value.WriteTotalTimeoutMultiplier = 0;
  value.WriteTotalTimeoutConstant = 0;
  return ::SetCommTimeouts(handle_, &value) != FALSE;
}

bool Win32SerialDevice::SetupQueues(std::uint32_t input, std::uint32_t output) {
  if (Closed()) return false;
  return ::SetupComm(handle_, input, output) != FALSE;
}

bool Win32SerialDevice::SetDtr(bool on) {
  if (Closed()) return false;
  return ::EscapeCommFunction(handle_, on ? SETDTR : CLRDTR) != FALSE;
}

bool Win32SerialDevice::Purge() {
  if (Closed()) return false;
  // Input is always dropped. Output only while a write is still going out,
  // or before anything of ours was written: a completed write counts as
  // handed to the line. Otherwise the exit byte written just before the
  // close would be lost where the flush drops what the other end has not
  // read yet (Wine on a pseudo-terminal).
  const bool drop_output = write_pending_.load() || !wrote_.load();
  const DWORD output = drop_output ? (PURGE_TXABORT | PURGE_TXCLEAR) : 0;
  const bool purged = ::PurgeComm(handle_, output | PURGE_RXABORT | PURGE_RXCLEAR) != FALSE;
  // The aborts, made sure of: Wine's PurgeComm only flushes the terminal's
  // queues and leaves a pending ReadFile waiting for its first byte, so the
  // interrupt of a wait for a silent modem would end only at the wait's
  // limit. A record with nothing pending is not found, which is harmless;
  // only its address is passed, so a reader arming it meanwhile is not raced.
  ::CancelIoEx(handle_, &read_record_);
  ::CancelIoEx(handle_, &write_record_);
  return purged;
}

bool Win32SerialDevice::ClearErrors() {
  if (Closed()) return false;
  DWORD errors = 0;
  COMSTAT status{};
  return ::ClearCommError(handle_, &errors, &status) != FALSE;
}

bool Win32SerialDevice::GetModemStatus(std::uint32_t& bits, std::uint32_t& error) {
  if (Closed()) {
    error = kErrorInvalidHandle;
    return false;
  }
  DWORD status = 0;
  if (!::GetCommModemStatus(handle_, &status)) {
    error = MapWin32Error(::GetLastError());
    return false;
  }
  bits = status;
  error = kErrorSuccess;
  return true;
}

IoResult Win32SerialDevice::StartWrite(const std::uint8_t* data, std::uint32_t count) {
  std::lock_guard<std::mutex> guard(write_lock_);
  if (Closed()) return Failed(kErrorInvalidHandle);
  write_record_ = OVERLAPPED{};
  ::ResetEvent(write_event_);
  write_record_.hEvent = write_event_;
  if (::WriteFile(handle_, data, count, nullptr, &write_record_)) {
    DWORD written = 0;
    if (!::GetOverlappedResult(handle_, &write_record_, &written, FALSE)) return FailedWithLastError(written);
    wrote_.store(true);
    return Completed(written);
  }
  const DWORD error = ::GetLastError();
  if (error != ERROR_IO_PENDING) return Failed(MapWin32Error(error));
  write_pending_ = true;
  return Pending();
}

IoResult Win32SerialDevice::FinishWrite() {
  std::lock_guard<std::mutex> guard(write_lock_);
  if (!write_pending_) return Failed(kErrorInvalidParameter);
  HANDLE events[2] = {write_event_, close_event_};
  const DWORD woke = ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
  if (woke != WAIT_OBJECT_0) ::CancelIoEx(handle_, &write_record_);
  DWORD written = 0;
  // After a cancel this waits for the system to give the record back.
  const BOOL ok = ::GetOverlappedResult(handle_, &write_record_, &written, TRUE);
  const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
  write_pending_ = false;
  if (!ok) return Failed(MapWin32Error(error), written);
  wrote_.store(true);
  return Completed(written);
}

DWORD Win32SerialDevice::EndPendingRead() {
  ::CancelIoEx(handle_, &read_record_);
  DWORD count = 0;
  (void)::GetOverlappedResult(handle_, &read_record_, &count, TRUE);
  read_state_ = ReadState::kIdle;
  return count;
}

IoResult Win32SerialDevice::StartRead(std::uint8_t* buffer, std::uint32_t max) {
  std::lock_guard<std::mutex> guard(read_lock_);
  DWORD carried = 0;
  std::uint8_t* old_buffer = read_buffer_;
  if (read_state_ == ReadState::kPending) carried = EndPendingRead();
  read_state_ = ReadState::kIdle;
  read_buffer_ = buffer;
  read_result_ = IoResult{};
  if (Closed()) return Failed(kErrorInvalidHandle);
  if (carried > 0 && old_buffer != nullptr) {
    // The old read's bytes are the modem's answer nobody has fetched yet:
    // they become this read's result instead of being overwritten.
    const DWORD kept = carried < max ? carried : max;
    if (old_buffer != buffer) std::memmove(buffer, old_buffer, kept);
    read_state_ = ReadState::kDone;
    read_result_ = Completed(kept);
    return read_result_;
  }

  read_record_ = OVERLAPPED{};
  ::ResetEvent(read_event_);
  read_record_.hEvent = read_event_;
  if (::ReadFile(handle_, buffer, max, nullptr, &read_record_)) {
    DWORD count = 0;
    read_state_ = ReadState::kDone;
    read_result_ = ::GetOverlappedResult(handle_, &read_record_, &count, FALSE) ? Completed(count)
                                                                              : FailedWithLastError(count);
    return read_result_;
  }
  const DWORD error = ::GetLastError();
  if (error != ERROR_IO_PENDING) return Failed(MapWin32Error(error));
  read_state_ = ReadState::kPending;
  return Pending();
}

bool Win32SerialDevice::WaitRead(Millis limit) {
  {
    std::lock_guard<std::mutex> guard(read_lock_);
    if (read_state_ != ReadState::kPending) return true;
  }
  // Not under the lock: Close() and the completion check stay free while a
  // reader waits. Only the one reader thread arms and waits on the record.
  HANDLE events[2] = {read_event_, close_event_};
  const DWORD woke = ::WaitForMultipleObjects(2, events, FALSE, WaitMillis(limit));
  return woke != WAIT_TIMEOUT;
}

IoResult Win32SerialDevice::FetchReadResult(bool wait) {
  DWORD count = 0;
  if (::GetOverlappedResult(handle_, &read_record_, &count, wait ? TRUE : FALSE)) {
    read_state_ = ReadState::kDone;
    read_result_ = Completed(count);
    return read_result_;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_IO_INCOMPLETE) return Failed(kErrorIoIncomplete);
  read_state_ = ReadState::kDone;
  read_result_ = Failed(MapWin32Error(error), count);
  return read_result_;
}

IoResult Win32SerialDevice::ReadResult() {
  std::lock_guard<std::mutex> guard(read_lock_);
  switch (read_state_) {
    case ReadState::kIdle:
      return Completed(0);
    case ReadState::kDone:
      return read_result_;
    case ReadState::kPending:
      break;
  }
  if (Closed()) {
    // Close() has cancelled the read; wait until the record is given back.
    ::CancelIoEx(handle_, &read_record_);
    IoResult result = FetchReadResult(true);
    if (result.state == IoResult::State::kCompleted && result.count == 0) {
      read_result_ = Failed(kErrorOperationAborted);
      return read_result_;
    }
    return result;
  }
  return FetchReadResult(false);
}

void Win32SerialDevice::Close() {
  if (closed_.exchange(true)) return;
  ::CancelIoEx(handle_, nullptr);
  ::SetEvent(close_event_);
}

namespace {

class Win32Backend final : public SerialBackend {
 public:
  SerialHandle Open(const char* port_name) override {
    OpenFailure failure;
    return OpenPort(port_name, failure);
  }

  SerialHandle OpenPort(const char* port_name, OpenFailure& failure) override {
    failure = OpenFailure{};
    if (port_name == nullptr || port_name[0] == '\0') {
      failure.kind = OpenFailureKind::kMissing;
      failure.error = kErrorFileNotFound;
      return nullptr;
    }
    // The device-namespace form opens COM10 and up as well as COM1.
    std::string path = port_name;
    if (path.rfind("\\\\.\\", 0) != 0) path = "\\\\.\\" + path;
    HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      failure.system_error = static_cast<int>(error);
      failure.error = MapWin32Error(error);
      switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
          failure.kind = OpenFailureKind::kMissing;
          break;
        case ERROR_ACCESS_DENIED:  // an unshared open of another program
        case ERROR_SHARING_VIOLATION:
          failure.kind = OpenFailureKind::kBusy;
          break;
        default:
          failure.kind = OpenFailureKind::kOther;
          break;
      }
      return nullptr;
    }
    return std::make_shared<Win32SerialDevice>(handle);
  }

  // Every name this backend opens is a COM port: hardware, unless the test
  // environment declares the line a simulated one.
  bool IsHardwarePort(const char* port_name) override {
    (void)port_name;
    return ComPortIsHardware();
  }

  std::vector<std::string> FurtherProbePorts() override {
    return ReadSerialCommPorts(HKEY_LOCAL_MACHINE, kSerialCommKey);
  }
};

}  // namespace

SerialBackend& PlatformSerialBackend() {
  static Win32Backend backend;
  return backend;
}

}  // namespace mfu
