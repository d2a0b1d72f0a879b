// The serial port on Linux: a termios device opened non-blocking, with every
// wait done by poll() so that Close() and Purge() from another thread can wake
// it. The read record and its waits are PolledDevice's; this device fetches
// the bytes with read().
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
#include "serial/posix/polled_device.h"
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

class TermiosDevice final : public PolledDevice {
 public:
  TermiosDevice(int fd, int read_wake, int write_wake) : PolledDevice(fd, read_wake, write_wake) {}

  ~TermiosDevice() override {
    Close();
    ::ioctl(fd_, TIOCNXCL);
    ::flock(fd_, LOCK_UN);
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
    AbortPending();
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

  Step TakeInput(ReadRecord& read) override {
    const ssize_t n = ::read(fd_, read.buffer + read.count, read.max - read.count);
    if (n > 0) {
      read.Took(static_cast<std::uint32_t>(n));
      return Step::kMore;
    }
    if (n < 0 && errno == EINTR) return Step::kMore;
    if (n == 0 || errno != EAGAIN) {
      // End of file or a line error: the device has gone.
      const int system_error = n == 0 ? 0 : errno;
      read.Finish(n == 0 ? kErrorDeviceRemoved : MapErrno(system_error), system_error);
      return Step::kEnded;
    }
    return Step::kIdle;
  }

  std::uint32_t ErrorOfErrno(int error) const override { return MapErrno(error); }

  // The other end hung up (a pseudo-terminal's master closed).
  bool HungUp(short revents) const override {
    return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (revents & POLLIN) == 0;
  }

  struct PendingWrite {
    const std::uint8_t* data = nullptr;
    std::uint32_t count = 0;
    std::uint32_t done = 0;
    std::uint32_t generation = 0;
    bool active = false;
  };

  std::atomic<bool> write_pending_{false};  // a write waits in FinishWrite
  std::atomic<bool> wrote_{false};          // a write of ours has completed

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
