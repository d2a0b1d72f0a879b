// The serial port on Linux: a termios device opened non-blocking, with every
// wait done by poll() so that Close() and Purge() from another thread can wake
// it. The read record follows the overlapped model of the port code: a read is
// armed, waited for with a limit, and when the limit passes it stays armed
// with what it has taken so far; bytes that come later belong to that read,
// and re-arming hands its bytes to the new read.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "serial/posix/hardware_port.h"
#include "serial/posix/net_port.h"
#include "serial/posix/posix_ports.h"
#include "serial/serial_device.h"

namespace mfu {
namespace {

using Clock = std::chrono::steady_clock;

// The one place where errno becomes a port error code.
std::uint32_t MapErrno(int error) {
  switch (error) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
    case ENOTDIR:
      return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case EBUSY:
    case EWOULDBLOCK:
      return kErrorSharingViolation;
    case EINVAL:
    case ENOTTY:
      return kErrorInvalidParameter;
    case ECANCELED:
      return kErrorOperationAborted;
    case ENXIO:
    case ENODEV:
    case EIO:
      return kErrorDeviceRemoved;
    default:
      return kErrorGenFailure;
  }
}

// A pseudo-terminal has no modem lines: its modem ioctls fail with one of
// these, and then there is nothing to read or drive.
bool IsNoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

// Saved line settings: the termios block and the modem lines, so that a
// restore puts DTR and RTS back as the port had them.
struct SavedState {
  termios tio;
  int lines;
  int lines_valid;
};

// Saved timeouts: the read interval in ms (0: a read waits for its count).
struct SavedTimeouts {
  std::uint32_t interval_ms;
};

int PollFor(int fd, short events, int wake_fd, Clock::time_point deadline, short& revents, bool& woken) {
  pollfd fds[2] = {{fd, events, 0}, {wake_fd, POLLIN, 0}};
  int timeout_ms = -1;
  if (deadline != Clock::time_point::max()) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
      timeout_ms = 0;
    } else {
      // Round up so that the wait never ends a little before the deadline.
      const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
      timeout_ms = ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
    }
  }
  const int rc = ::poll(fds, 2, timeout_ms);
  revents = fds[0].revents;
  woken = (fds[1].revents & POLLIN) != 0;
  return rc;
}

void Drain(int wake_fd) {
  std::uint64_t value = 0;
  while (::read(wake_fd, &value, sizeof value) > 0) {
  }
}

void Wake(int wake_fd) {
  const std::uint64_t one = 1;
  (void)!::write(wake_fd, &one, sizeof one);
}

class TermiosDevice final : public SerialDevice {
 public:
  TermiosDevice(int fd, int read_wake, int write_wake) : fd_(fd), read_wake_(read_wake), write_wake_(write_wake) {}

  ~TermiosDevice() override {
    Close();
    ::ioctl(fd_, TIOCNXCL);
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    ::close(read_wake_);
    ::close(write_wake_);
  }

  bool GetState(PortSettings& state) override {
    if (closed_.load()) return false;
    SavedState saved{};
    if (::tcgetattr(fd_, &saved.tio) != 0) return false;
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) == 0) {
      saved.lines = lines;
      saved.lines_valid = 1;
    }
    state.bytes.resize(sizeof saved);
    std::memcpy(state.bytes.data(), &saved, sizeof saved);
    return true;
  }

  bool SetState(const PortSettings& state) override {
    if (closed_.load() || state.bytes.size() != sizeof(SavedState)) return false;
    SavedState saved{};
    std::memcpy(&saved, state.bytes.data(), sizeof saved);
    if (::tcsetattr(fd_, TCSANOW, &saved.tio) != 0) return false;
    if (saved.lines_valid != 0) {
      const int on = saved.lines & (TIOCM_DTR | TIOCM_RTS);
      const int off = ~saved.lines & (TIOCM_DTR | TIOCM_RTS);
      if (on != 0 && ::ioctl(fd_, TIOCMBIS, &on) != 0) return false;
      if (off != 0 && ::ioctl(fd_, TIOCMBIC, &off) != 0) return false;
    }
    return true;
  }

  bool ApplyWorkingState(const PortSettings& saved) override {
    if (closed_.load()) return false;
    termios tio{};
    if (saved.bytes.size() == sizeof(SavedState)) {
      SavedState copy{};
      std::memcpy(&copy, saved.bytes.data(), sizeof copy);
      tio = copy.tio;
    } else if (::tcgetattr(fd_, &tio) != 0) {
      return false;
    }
    // Raw 8N1: binary, no parity check, no NUL stripping or break handling,
    // no software flow control either way, no output processing.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                          IXANY | INPCK | IGNPAR);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    // Linux ties the RTS input handshake to CTS output flow control in the
    // one CRTSCTS flag. CTS must never hold back our output, so CRTSCTS stays
    // off and RTS is simply asserted below; the modem never needs us to
    // drop it, as its answers are short bursts the driver buffers whole.
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;  // reads are non-blocking and poll-driven anyway
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B57600);
    ::cfsetospeed(&tio, B57600);
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) return false;
    const int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd_, TIOCMBIS, &lines) != 0 && !IsNoModemLines(errno)) return false;
    return true;
  }

  bool GetTimeouts(PortSettings& timeouts) override {
    if (closed_.load()) return false;
    SavedTimeouts saved{interval_ms_.load()};
    timeouts.bytes.resize(sizeof saved);
    std::memcpy(timeouts.bytes.data(), &saved, sizeof saved);
    return true;
  }

  bool SetTimeouts(const PortSettings& timeouts) override {
    if (closed_.load() || timeouts.bytes.size() != sizeof(SavedTimeouts)) return false;
    SavedTimeouts saved{};
    std::memcpy(&saved, timeouts.bytes.data(), sizeof saved);
    interval_ms_.store(saved.interval_ms);
    return true;
  }

  bool ApplyWorkingTimeouts() override {
    if (closed_.load()) return false;
    interval_ms_.store(kWorkingIntervalMs);
    return true;
  }

  // The Linux serial drivers size their queues themselves (4 KiB and more),
  // which is at least what the modem dialogue needs.
  bool SetupQueues(std::uint32_t, std::uint32_t) override { return !closed_.load(); }

  bool SetDtr(bool on) override {
    if (closed_.load()) return false;
    const int bits = TIOCM_DTR;
    if (::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) == 0) return true;
    return IsNoModemLines(errno);
  }

  bool Purge() override {
    if (closed_.load()) return false;
    // Input is always dropped. Output only while a write is still going out
    // (its rest is what the abort drops), or before anything of ours was
    // written (what an earlier user of the port left behind): a completed
    // write counts as handed to the line, as a completed platform write does
    // elsewhere. Otherwise the exit byte written just before the close would
    // be lost on a pseudo-terminal, whose flush drops what the other end has
    // not read yet.
    const bool drop_output = write_pending_.load() || !wrote_.load();
    const bool flushed = ::tcflush(fd_, drop_output ? TCIOFLUSH : TCIFLUSH) == 0;
    purge_generation_.fetch_add(1);
    Wake(read_wake_);
    Wake(write_wake_);
    return flushed;
  }

  bool ClearErrors() override { return !closed_.load(); }  // Linux latches no line errors

  bool GetModemStatus(std::uint32_t& bits, std::uint32_t& error) override {
    bits = 0;
    if (closed_.load()) {
      error = kErrorInvalidHandle;
      return false;
    }
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) != 0) {
      if (IsNoModemLines(errno)) {
        // A pseudo-terminal (a bridge to a modem elsewhere, or the simulated
        // modem) has no status lines: report the modem as present.
        bits = kMsCtsOn | kMsDsrOn;
        error = kErrorSuccess;
        return true;
      }
      error = MapErrno(errno);
      return false;
    }
    if (lines & TIOCM_CTS) bits |= kMsCtsOn;
    if (lines & TIOCM_DSR) bits |= kMsDsrOn;
    if (lines & TIOCM_RI) bits |= kMsRingOn;
    if (lines & TIOCM_CD) bits |= kMsRlsdOn;
    error = kErrorSuccess;
    return true;
  }

  IoResult StartWrite(const std::uint8_t* data, std::uint32_t count) override {
    std::lock_guard<std::mutex> guard(write_lock_);
    write_ = PendingWrite{};
    if (closed_.load()) return Failed(kErrorInvalidHandle, 0);
    write_.data = data;
    write_.count = count;
    write_.generation = purge_generation_.load();
    write_.active = true;
    while (write_.done < count) {
      const ssize_t n = ::write(fd_, data + write_.done, count - write_.done);
      if (n > 0) {
        write_.done += static_cast<std::uint32_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) {
        write_pending_.store(true);
        return IoResult{IoResult::State::kPending, write_.done, kErrorIoPending};
      }
      write_.active = false;
      return Failed(n < 0 ? MapErrno(errno) : kErrorGenFailure, write_.done);
    }
    write_.active = false;
    wrote_.store(true);
    return IoResult{IoResult::State::kCompleted, write_.done, kErrorSuccess};
  }

  IoResult FinishWrite() override {
    std::lock_guard<std::mutex> guard(write_lock_);
    if (!write_.active) return IoResult{IoResult::State::kCompleted, write_.done, kErrorSuccess};
    write_.active = false;
    const IoResult result = RunWrite();
    if (result.state == IoResult::State::kCompleted) wrote_.store(true);
    write_pending_.store(false);
    return result;
  }

 private:
  // The rest of a pending write; called with write_lock_ held.
  IoResult RunWrite() {
    Drain(write_wake_);
    while (write_.done < write_.count) {
      if (closed_.load() || purge_generation_.load() != write_.generation) {
        return Failed(kErrorOperationAborted, write_.done);
      }
      short revents = 0;
      bool woken = false;
      const int rc = PollFor(fd_, POLLOUT, write_wake_, Clock::time_point::max(), revents, woken);
      if (rc < 0) {
        if (errno == EINTR) continue;
        return Failed(MapErrno(errno), write_.done);
      }
      if (woken) Drain(write_wake_);
      if (revents & (POLLERR | POLLHUP | POLLNVAL)) return Failed(kErrorDeviceRemoved, write_.done);
      if ((revents & POLLOUT) == 0) continue;
      const ssize_t n = ::write(fd_, write_.data + write_.done, write_.count - write_.done);
      if (n > 0) {
        write_.done += static_cast<std::uint32_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        return Failed(MapErrno(errno), write_.done);
      }
    }
    return IoResult{IoResult::State::kCompleted, write_.done, kErrorSuccess};
  }

 public:
  IoResult StartRead(std::uint8_t* buffer, std::uint32_t max) override {
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
      read_.count = earlier.count < max ? earlier.count : max;
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

  bool WaitRead(Millis limit) override {
    std::lock_guard<std::mutex> guard(read_lock_);
    if (!read_.armed || read_.finished) return true;
    return RunRead(DeadlineAfter(limit), false);
  }

  IoResult ReadResult() override {
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

  void Close() override {
    if (closed_.exchange(true)) return;
    Wake(read_wake_);
    Wake(write_wake_);
  }

 private:
  static constexpr std::uint32_t kWorkingIntervalMs = 250;

  struct PendingWrite {
    const std::uint8_t* data = nullptr;
    std::uint32_t count = 0;
    std::uint32_t done = 0;
    std::uint32_t generation = 0;
    bool active = false;
  };

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
  };

  static IoResult Failed(std::uint32_t error, std::uint32_t count) {
    return IoResult{IoResult::State::kFailed, count, error};
  }

  void Finish(std::uint32_t error, int system_error = 0) {
    read_.finished = true;
    read_.error = error;
    read_.system_error = system_error;
  }

  // Runs the armed read: takes bytes until the count is in or the read
  // interval has passed after the last byte (true: the read is complete).
  // Until then it waits no longer than `limit_at` and returns false: the
  // read stays armed, the bytes taken so far stay in the record, and bytes
  // that come later are added to them. With `take_begun_burst` (the
  // completion check) a read that holds bytes is not left at `limit_at` but
  // taken to the end of its burst. Called with read_lock_ held.
  bool RunRead(Clock::time_point limit_at, bool take_begun_burst) {
    Drain(read_wake_);
    for (;;) {
      if (closed_.load() || purge_generation_.load() != read_.generation) {
        Finish(kErrorOperationAborted);
        return true;
      }
      // Take what is there without waiting.
      const ssize_t n = ::read(fd_, read_.buffer + read_.count, read_.max - read_.count);
      if (n > 0) {
        read_.count += static_cast<std::uint32_t>(n);
        read_.last_byte = Clock::now();
        if (read_.count >= read_.max) {
          Finish(kErrorSuccess);
          return true;
        }
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n == 0 || (n < 0 && errno != EAGAIN)) {
        // End of file or a line error: the device has gone.
        const int system_error = n == 0 ? 0 : errno;
        Finish(n == 0 ? kErrorDeviceRemoved : MapErrno(system_error), system_error);
        return true;
      }
      const Clock::time_point now = Clock::now();
      const bool begun = read_.count > 0;
      Clock::time_point deadline = limit_at;
      if (begun) {
        const std::uint32_t interval = interval_ms_.load();
        const Clock::time_point gap_end =
            interval == 0 ? Clock::time_point::max() : read_.last_byte + RealDuration(interval);
        if (now >= gap_end) {
          Finish(kErrorSuccess);
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
        Finish(MapErrno(system_error), system_error);
        return true;
      }
      if (woken) Drain(read_wake_);
      if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (revents & POLLIN) == 0) {
        // The other end hung up (a pseudo-terminal's master closed).
        Finish(begun ? kErrorSuccess : kErrorDeviceRemoved);
        return true;
      }
    }
  }

  const int fd_;
  const int read_wake_;   // eventfd: Close and Purge wake a blocked read
  const int write_wake_;  // eventfd: Close and Purge wake a blocked write
  std::atomic<bool> closed_{false};
  std::atomic<std::uint32_t> purge_generation_{0};
  std::atomic<std::uint32_t> interval_ms_{0};
  std::atomic<bool> write_pending_{false};  // a write waits in FinishWrite
  std::atomic<bool> wrote_{false};          // a write of ours has completed

  std::mutex read_lock_;
  ReadRecord read_;
  std::mutex write_lock_;
  PendingWrite write_;
};

// Why an open failed, for the user: from the errno of open().
OpenFailureKind KindOfOpenError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:  // a device node without its device (an unplugged adapter)
    case ENODEV:
    case EIO:
      return OpenFailureKind::kMissing;
    case EACCES:
    case EPERM:
    case EROFS:
      return OpenFailureKind::kNoPermission;
    case EBUSY:  // another program set TIOCEXCL
      return OpenFailureKind::kBusy;
    case EISDIR:
    case ENOTTY:
      return OpenFailureKind::kNotSerial;
    default:
      return OpenFailureKind::kOther;
  }
}

SerialHandle Failed(OpenFailure& failure, OpenFailureKind kind, int error) {
  failure.kind = kind;
  failure.system_error = error;
  failure.error = MapErrno(error);
  return nullptr;
}

class TermiosBackend final : public SerialBackend {
 public:
  bool IsHardwarePort(const char* port_name) override {
    if (IsNetworkPortName(port_name)) return NetworkPortIsHardware();
    const std::string path = port_name != nullptr ? DevicePath(port_name) : std::string();
    // COM1 to COM4 (the probe's names) stand for the first UARTs,
    // /dev/ttyS0 to /dev/ttyS3: real hardware by name, whether or not the
    // node exists on this machine.
    if (!path.empty() && path != port_name) return true;
    return !path.empty() && IsHardwareTty(path.c_str());
  }

  SerialHandle Open(const char* port_name) override {
    OpenFailure failure;
    return OpenPort(port_name, failure);
  }

  SerialHandle OpenPort(const char* port_name, OpenFailure& failure) override {
    failure = OpenFailure{};
    if (port_name == nullptr || port_name[0] == '\0') return Failed(failure, OpenFailureKind::kMissing, ENOENT);
    if (IsNetworkPortName(port_name)) return OpenNetworkPort(port_name, failure);
    const std::string path = DevicePath(port_name);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Failed(failure, KindOfOpenError(errno), errno);
    if (!::isatty(fd)) {
      ::close(fd);
      return Failed(failure, OpenFailureKind::kNotSerial, ENOTTY);
    }
    // Exclusive like the platform's unshared open: TIOCEXCL keeps other
    // programs out (root passes it, so a lock on the device backs it up).
    // The lock comes first, so that a port another program has locked is
    // given up without touching its exclusive flag.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      return Failed(failure, error == EWOULDBLOCK ? OpenFailureKind::kBusy : OpenFailureKind::kOther, error);
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
      const int error = errno;
      ::flock(fd, LOCK_UN);
      ::close(fd);
      return Failed(failure, OpenFailureKind::kOther, error);
    }
    const int read_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const int write_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (read_wake < 0 || write_wake < 0) {
      const int error = errno;
      if (read_wake >= 0) ::close(read_wake);
      if (write_wake >= 0) ::close(write_wake);
      ::ioctl(fd, TIOCNXCL);
      ::close(fd);
      return Failed(failure, OpenFailureKind::kOther, error);
    }
    return std::make_shared<TermiosDevice>(fd, read_wake, write_wake);
  }

  std::vector<PortEntry> ListPorts() override { return ListSerialPorts(); }

  std::vector<PortHolder> OtherHolders(const char* port_name) override {
    if (port_name == nullptr || port_name[0] == '\0' || IsNetworkPortName(port_name)) return {};
    return FindOtherHolders(DevicePath(port_name));
  }

  std::vector<PortHolder> HoldersOfBusyPort(const char* port_name) override {
    if (port_name == nullptr || port_name[0] == '\0' || IsNetworkPortName(port_name)) return {};
    bool hidden = false;
    std::vector<PortHolder> holders = FindOtherHolders(DevicePath(port_name), "/proc", &hidden);
    if (holders.empty() && hidden) holders.push_back(PortHolder{"", 0, /*other_user=*/true});
    return holders;
  }

  bool ModemManagerRuns() override { return ProcessRuns("ModemManager"); }

  std::string DeviceKey(const char* port_name) override {
    return port_name != nullptr ? DeviceKeyOf(DevicePath(port_name)) : std::string();
  }
};

}  // namespace

std::string DeviceKeyOf(const std::string& path) {
  // The character device's numbers: a by-id link, COM1 and /dev/ttyS0 lead
  // to one device. A name that leads nowhere is a device of its own.
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode)) {
    return "char " + std::to_string(major(info.st_rdev)) + ":" + std::to_string(minor(info.st_rdev));
  }
  return path;
}

std::string DevicePath(const char* port_name) {
  if (std::strncmp(port_name, "COM", 3) == 0 && port_name[3] >= '1' && port_name[3] <= '4' && port_name[4] == '\0') {
    return std::string("/dev/ttyS") + static_cast<char>(port_name[3] - 1);
  }
  return port_name;
}

SerialBackend& PlatformSerialBackend() {
  static TermiosBackend backend;
  return backend;
}

}  // namespace mfu
