// A serial port behind a terminal server, over one TCP connection. The read
// record and its waits are PolledDevice's, as for the termios port: armed,
// waited for with a limit, left pending with its bytes when the limit passes.
// Bytes from the socket go through the Telnet decoder (rfc2217) into
// `input_`, from which reads take them; a read's 250 ms gap counts from the
// last data byte it took, so that Telnet commands between data bytes do not
// stretch an answer.
//
// Every send to the socket is non-blocking and made under `send_lock_`;
// waits for room happen outside it. A data write may stop between the two
// bytes of a doubled 0xFF; until its pair is complete, Telnet commands of
// our own (negotiation answers, SET-CONTROL, PURGE-DATA) wait in
// `pending_control_` and go before the next data.
#include "serial/posix/net_port.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "serial/posix/polled_device.h"

namespace mfu {
namespace {

using Clock = std::chrono::steady_clock;

// Telnet (RFC 854, 856) and its COM-PORT-OPTION (RFC 2217).
constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
constexpr std::uint8_t kOptBinary = 0, kOptSuppressGoAhead = 3, kOptComPort = 44;
constexpr std::uint8_t kSetBaudrate = 1, kSetDatasize = 2, kSetParity = 3, kSetStopsize = 4, kSetControl = 5,
                       kPurgeData = 12;
constexpr std::uint8_t kNotifyModemstate = 7 + 100;  // as the server sends it
constexpr std::uint8_t kParityNone = 1, kStopBitsOne = 1;
constexpr std::uint8_t kControlDtrOn = 8, kControlDtrOff = 9, kControlRtsOn = 11;
constexpr std::uint8_t kPurgeReceive = 1, kPurgeBoth = 3;
constexpr std::uint32_t kBaudrate = 57600;
// Subnegotiations longer than this are no COM-PORT-OPTION of interest.
constexpr std::size_t kSbLimit = 64;

std::uint32_t MapErrno(int error) {
  switch (error) {
    case 0:
      return kErrorSuccess;
    case EBADF:
      return kErrorInvalidHandle;
    case EPIPE:
    case ECONNRESET:
    case ECONNABORTED:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETDOWN:
      return kErrorDeviceRemoved;
    default:
      return kErrorGenFailure;
  }
}

// Owns a descriptor until released.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

class NetDevice final : public PolledDevice {
 public:
  // Takes over the three descriptors.
  NetDevice(int socket, int read_wake, int write_wake, bool telnet)
      : PolledDevice(socket, read_wake, write_wake), telnet_(telnet) {}

  // Our side of the negotiation: BINARY both ways, COM-PORT-OPTION.
  void Offer() {
    if (!telnet_) return;
    local_[kOptBinary] = remote_[kOptBinary] = local_[kOptComPort] = true;
    SendControl({kIac, kWill, kOptBinary, kIac, kDo, kOptBinary, kIac, kWill, kOptComPort});
  }

  // A server keeps its own line settings: nothing to save, nothing to give
  // back. The settings are one marker byte so that the port code keeps them.
  bool GetState(PortSettings& state) override {
    if (closed_.load()) return false;
    state.bytes.assign(1, 0);
    return true;
  }
  bool SetState(const PortSettings&) override { return !closed_.load(); }

  bool ApplyWorkingState(const PortSettings&) override {
    if (closed_.load()) return false;
    if (!telnet_) return true;  // raw TCP: the server's settings carry the line
    std::vector<std::uint8_t> command;
    const std::uint8_t baud[4] = {static_cast<std::uint8_t>(kBaudrate >> 24), static_cast<std::uint8_t>(kBaudrate >> 16),
                                  static_cast<std::uint8_t>(kBaudrate >> 8), static_cast<std::uint8_t>(kBaudrate)};
    AppendComPort(command, kSetBaudrate, baud, 4);
    const std::uint8_t eight = 8, none = kParityNone, one = kStopBitsOne, dtr = kControlDtrOn, rts = kControlRtsOn;
    AppendComPort(command, kSetDatasize, &eight, 1);
    AppendComPort(command, kSetParity, &none, 1);
    AppendComPort(command, kSetStopsize, &one, 1);
    AppendComPort(command, kSetControl, &dtr, 1);
    AppendComPort(command, kSetControl, &rts, 1);
    return SendControl(std::move(command));
  }

  bool SetupQueues(std::uint32_t, std::uint32_t) override { return !closed_.load(); }

  bool SetDtr(bool on) override {
    if (closed_.load()) return false;
    if (!telnet_) return true;
    std::vector<std::uint8_t> command;
    const std::uint8_t value = on ? kControlDtrOn : kControlDtrOff;
    AppendComPort(command, kSetControl, &value, 1);
    return SendControl(std::move(command));
  }

  bool Purge() override {
    if (closed_.load()) return false;
    // What has reached our socket so far is dropped by the next read; the
    // server drops what it holds from the modem, and what it holds of ours
    // only while a write is going out or before any of ours completed (a
    // completed write counts as handed to the line, as on termios).
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) == 0 && waiting > 0) discard_raw_.fetch_add(static_cast<std::size_t>(waiting));
    bool sent = true;
    if (telnet_) {
      const std::uint8_t which = write_pending_.load() || !wrote_.load() ? kPurgeBoth : kPurgeReceive;
      std::vector<std::uint8_t> command;
      AppendComPort(command, kPurgeData, &which, 1);
      sent = SendControl(std::move(command));
    }
    AbortPending();
    return sent;
  }

  bool ClearErrors() override { return !closed_.load(); }

  bool GetModemStatus(std::uint32_t& bits, std::uint32_t& error) override {
    bits = 0;
    if (closed_.load()) {
      error = kErrorInvalidHandle;
      return false;
    }
    error = kErrorSuccess;
    const int state = modem_state_.load();
    // Behind a network port the modem always counts as present: a server's
    // report of CTS and DSR says nothing sure about the modem (a terminal
    // server on a pseudo-terminal or a three-wire cable reports both off,
    // and its report comes with the first answer, between the search and
    // the monitor's start), so the modem's answers decide, as on raw TCP.
    // Ring and carrier are passed on as the server reports them.
    bits = kMsCtsOn | kMsDsrOn;
    if (state >= 0) bits |= static_cast<std::uint32_t>(state) & (kMsRingOn | kMsRlsdOn);
    return true;
  }

  IoResult StartWrite(const std::uint8_t* data, std::uint32_t count) override {
    std::lock_guard<std::mutex> guard(write_lock_);
    write_ = PendingWrite{};
    if (closed_.load()) return Failed(kErrorInvalidHandle, 0);
    write_.count = count;
    write_.generation = purge_generation_.load();
    write_.encoded.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      write_.encoded.push_back(data[i]);
      if (telnet_ && data[i] == kIac) write_.encoded.push_back(kIac);
    }
    write_.active = true;
    const int rc = SendData();
    if (rc > 0) return Done();
    if (rc < 0) return Abandon(MapErrno(errno));
    write_pending_.store(true);
    return IoResult{IoResult::State::kPending, write_.raw_done, kErrorIoPending};
  }

  IoResult FinishWrite() override {
    std::lock_guard<std::mutex> guard(write_lock_);
    if (!write_.active) return IoResult{IoResult::State::kCompleted, write_.raw_done, kErrorSuccess};
    Drain(write_wake_);
    for (;;) {
      if (closed_.load() || purge_generation_.load() != write_.generation) return Abandon(kErrorOperationAborted);
      short revents = 0;
      bool woken = false;
      if (PollFor(fd_, POLLOUT, write_wake_, Clock::time_point::max(), revents, woken) < 0 && errno != EINTR) {
        return Abandon(MapErrno(errno));
      }
      if (woken) Drain(write_wake_);
      if ((revents & (POLLOUT | POLLERR | POLLHUP)) == 0) continue;
      const int rc = SendData();
      if (rc > 0) return Done();
      if (rc < 0) return Abandon(MapErrno(errno));
    }
  }

 private:
  struct PendingWrite {
    std::vector<std::uint8_t> encoded;  // the data, 0xFF doubled for Telnet
    std::size_t sent = 0;               // of `encoded`
    std::uint32_t count = 0;            // the caller's bytes
    std::uint32_t raw_done = 0;         // the caller's bytes wholly sent
    std::uint32_t generation = 0;
    bool active = false;
  };

  static void AppendComPort(std::vector<std::uint8_t>& out, std::uint8_t command, const std::uint8_t* value,
                            std::size_t size) {
    out.insert(out.end(), {kIac, kSb, kOptComPort, command});
    for (std::size_t i = 0; i < size; ++i) {
      out.push_back(value[i]);
      if (value[i] == kIac) out.push_back(kIac);
    }
    out.insert(out.end(), {kIac, kSe});
  }

  // One non-blocking send: the count sent (0 when the socket is full), or
  // -1 with errno. Called with send_lock_ held.
  ssize_t SendSome(const std::uint8_t* bytes, std::size_t size) {
    for (;;) {
      const ssize_t n = ::send(fd_, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      return -1;
    }
  }

  // Sends what of pending_control_ the socket takes now. false on a socket
  // error. Called with send_lock_ held.
  bool FlushControl() {
    while (!pending_control_.empty()) {
      const ssize_t n = SendSome(pending_control_.data(), pending_control_.size());
      if (n < 0) return false;
      if (n == 0) return true;
      pending_control_.erase(pending_control_.begin(), pending_control_.begin() + n);
    }
    return true;
  }

  // A command of ours: sent now where the data stream is between two whole
  // bytes, else after the data's 0xFF pair is complete.
  bool SendControl(std::vector<std::uint8_t> command) {
    std::lock_guard<std::mutex> guard(send_lock_);
    pending_control_.insert(pending_control_.end(), command.begin(), command.end());
    if (mid_escape_) return true;
    return FlushControl();
  }

  // Sends what the socket takes of the write: 1 when all is sent, 0 when it
  // must wait for room, -1 on a socket error (errno). Called with
  // write_lock_ held.
  int SendData() {
    std::lock_guard<std::mutex> guard(send_lock_);
    while (write_.sent < write_.encoded.size()) {
      if (!mid_escape_) {
        if (!FlushControl()) return -1;
        if (!pending_control_.empty()) return 0;
      }
      const ssize_t n = SendSome(write_.encoded.data() + write_.sent, write_.encoded.size() - write_.sent);
      if (n < 0) return -1;
      if (n == 0) return 0;
      const std::size_t end = write_.sent + static_cast<std::size_t>(n);
      for (; write_.sent < end; ++write_.sent) {
        if (telnet_ && write_.encoded[write_.sent] == kIac) {
          mid_escape_ = !mid_escape_;
          if (mid_escape_) continue;  // the first of the pair
        }
        ++write_.raw_done;
      }
    }
    if (!FlushControl()) return -1;
    return 1;
  }

  IoResult Done() {
    write_.active = false;
    write_pending_.store(false);
    wrote_.store(true);
    return IoResult{IoResult::State::kCompleted, write_.raw_done, kErrorSuccess};
  }

  // A write given up part way. A lone first half of a doubled 0xFF would
  // make the server read our next bytes as a command: its second half goes
  // first.
  IoResult Abandon(std::uint32_t error) {
    {
      std::lock_guard<std::mutex> guard(send_lock_);
      if (mid_escape_) {
        mid_escape_ = false;
        pending_control_.insert(pending_control_.begin(), kIac);
        (void)FlushControl();
      }
    }
    write_.active = false;
    write_pending_.store(false);
    return Failed(error, write_.raw_done);
  }

  // The Telnet decoder: data bytes to input_, commands consumed. `drop`
  // data bytes are dropped (they came before a purge). Called with
  // the read lock held.
  void Decode(const std::uint8_t* bytes, std::size_t size, std::size_t drop) {
    for (std::size_t i = 0; i < size; ++i) {
      const bool keep = i >= drop;
      const std::uint8_t byte = bytes[i];
      if (!telnet_) {
        if (keep) input_.push_back(byte);
        continue;
      }
      switch (telnet_state_) {
        case TelnetState::kData:
          if (byte == kIac) {
            telnet_state_ = TelnetState::kIac;
          } else if (keep) {
            input_.push_back(byte);
          }
          break;
        case TelnetState::kIac:
          telnet_state_ = TelnetState::kData;
          if (byte == kIac) {
            if (keep) input_.push_back(kIac);
          } else if (byte >= kWill && byte <= kDont) {
            verb_ = byte;
            telnet_state_ = TelnetState::kOption;
          } else if (byte == kSb) {
            sb_.clear();
            telnet_state_ = TelnetState::kSb;
          }  // NOP, GA, SE out of place and the like carry nothing for us
          break;
        case TelnetState::kOption:
          telnet_state_ = TelnetState::kData;
          Negotiate(verb_, byte);
          break;
        case TelnetState::kSb:
          if (byte == kIac) {
            telnet_state_ = TelnetState::kSbIac;
          } else if (sb_.size() < kSbLimit) {
            sb_.push_back(byte);
          }
          break;
        case TelnetState::kSbIac:
          if (byte == kSe) {
            telnet_state_ = TelnetState::kData;
            Subnegotiation();
          } else {
            telnet_state_ = TelnetState::kSb;
            if (byte == kIac && sb_.size() < kSbLimit) sb_.push_back(kIac);
          }
          break;
      }
    }
  }

  // Answers the server's WILL/WONT/DO/DONT. BINARY, COM-PORT-OPTION (ours)
  // and SUPPRESS-GO-AHEAD are agreed to, every other option refused; an
  // option already in the state asked for is not answered again (no loops).
  void Negotiate(std::uint8_t verb, std::uint8_t option) {
    const bool wanted = option == kOptBinary || option == kOptSuppressGoAhead ||
                        (option == kOptComPort && (verb == kDo || verb == kDont));
    switch (verb) {
      case kDo:
        if (wanted && !local_[option]) {
          local_[option] = true;
          SendControl({kIac, kWill, option});
        } else if (!wanted) {
          SendControl({kIac, kWont, option});
        }
        break;
      case kWill:
        if (wanted && !remote_[option]) {
          remote_[option] = true;
          SendControl({kIac, kDo, option});
        } else if (!wanted) {
          SendControl({kIac, kDont, option});
        }
        break;
      case kDont:
        if (local_[option]) {
          local_[option] = false;
          SendControl({kIac, kWont, option});
        }
        break;
      default:  // kWont
        if (remote_[option]) {
          remote_[option] = false;
          SendControl({kIac, kDont, option});
        }
        break;
    }
  }

  void Subnegotiation() {
    if (sb_.size() >= 3 && sb_[0] == kOptComPort && sb_[1] == kNotifyModemstate) modem_state_.store(sb_[2]);
  }

  enum class PumpResult { kGot, kEmpty, kEnd, kError };

  // One receive from the socket into the decoder. Called with the read lock held.
  PumpResult Pump(int& error) {
    std::uint8_t raw[4096];
    for (;;) {
      const ssize_t n = ::recv(fd_, raw, sizeof raw, MSG_DONTWAIT);
      if (n > 0) {
        const std::size_t size = static_cast<std::size_t>(n);
        std::size_t drop = discard_raw_.load();
        while (drop > 0 && !discard_raw_.compare_exchange_weak(drop, drop - std::min(drop, size))) {
        }
        Decode(raw, size, std::min(drop, size));
        return PumpResult::kGot;
      }
      if (n == 0) return PumpResult::kEnd;
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return PumpResult::kEmpty;
      error = errno;
      return PumpResult::kError;
    }
  }

  // Hands decoded data to the read (what came before a purge is dropped),
  // sends our Telnet commands that wait, and receives what the socket has.
  Step TakeInput(ReadRecord& read) override {
    if (input_generation_ != read.generation) {
      input_.clear();  // what came before the purge
      input_generation_ = read.generation;
    }
    if (!input_.empty()) {
      const std::size_t take = std::min<std::size_t>(input_.size(), read.max - read.count);
      std::copy_n(input_.begin(), take, read.buffer + read.count);
      input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(take));
      read.Took(static_cast<std::uint32_t>(take));
      if (read.count >= read.max) return Step::kMore;
    }
    {
      std::lock_guard<std::mutex> guard(send_lock_);
      if (!mid_escape_) (void)FlushControl();
    }
    int error = 0;
    const PumpResult pumped = Pump(error);
    if (pumped == PumpResult::kGot) return Step::kMore;
    if (pumped == PumpResult::kEmpty) return Step::kIdle;
    // The server closed the connection, or it broke: the line is gone. A
    // burst already taken is delivered first; the next read fails.
    read.Finish(read.count > 0 ? kErrorSuccess
                               : (pumped == PumpResult::kEnd ? kErrorDeviceRemoved : MapErrno(error)));
    return Step::kEnded;
  }

  std::uint32_t ErrorOfErrno(int error) const override { return MapErrno(error); }

  enum class TelnetState { kData, kIac, kOption, kSb, kSbIac };

  const bool telnet_;
  std::atomic<bool> write_pending_{false};
  std::atomic<bool> wrote_{false};
  std::atomic<std::size_t> discard_raw_{0};  // socket bytes that came before a purge
  std::atomic<int> modem_state_{-1};         // NOTIFY-MODEMSTATE's byte; -1 until one came

  // The decoder and input_: the reader's, under the read lock (TakeInput).
  std::deque<std::uint8_t> input_;  // data bytes not yet taken by a read
  std::uint32_t input_generation_ = 0;
  TelnetState telnet_state_ = TelnetState::kData;
  std::uint8_t verb_ = 0;
  std::vector<std::uint8_t> sb_;
  bool local_[256] = {};   // options we do
  bool remote_[256] = {};  // options the server does

  std::mutex write_lock_;  // the write record
  PendingWrite write_;

  std::mutex send_lock_;  // every send, pending_control_ and mid_escape_
  std::vector<std::uint8_t> pending_control_;
  bool mid_escape_ = false;  // the data stream stands between the two bytes of a doubled 0xFF
};

// Why the server cannot be reached, for the user.
const char* ReasonOfErrno(int error) {
  switch (error) {
    case ECONNREFUSED:
      return "Verbindung abgelehnt";
    case ETIMEDOUT:
      return "keine Antwort";
    case ENETUNREACH:
    case ENETDOWN:
      return "Netz nicht erreichbar";
    case EHOSTUNREACH:
    case EHOSTDOWN:
      return "Rechner nicht erreichbar";
    default:
      return "Verbindungsfehler";
  }
}

SerialHandle Unreachable(OpenFailure& failure, const char* reason, int error) {
  failure.kind = OpenFailureKind::kUnreachable;
  failure.error = kErrorFileNotFound;
  failure.system_error = error;
  failure.reason = reason;
  return nullptr;
}

// A non-blocking connect to one address, waited for until `deadline`. The
// socket, or -1 with `error`.
int ConnectTo(const addrinfo& address, Clock::time_point deadline, int& error) {
  Fd fd(::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol));
  if (fd.get() < 0) {
    error = errno;
    return -1;
  }
  if (::connect(fd.get(), address.ai_addr, address.ai_addrlen) != 0) {
    if (errno != EINPROGRESS) {
      error = errno;
      return -1;
    }
    for (;;) {
      const auto left = deadline - Clock::now();
      const auto ms = left <= Clock::duration::zero() ? 0 : std::chrono::ceil<std::chrono::milliseconds>(left).count();
      pollfd poll_fd{fd.get(), POLLOUT, 0};
      const int rc = ::poll(&poll_fd, 1, static_cast<int>(ms));
      if (rc < 0 && errno == EINTR) continue;
      if (rc <= 0) {
        error = rc == 0 ? ETIMEDOUT : errno;
        return -1;
      }
      break;
    }
    int result = 0;
    socklen_t length = sizeof result;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &result, &length) != 0) result = errno;
    if (result != 0) {
      error = result;
      return -1;
    }
  }
  // Frames and answers are short and go stop-and-wait: no delaying them.
  const int on = 1;
  (void)::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd.release();
}

}  // namespace

bool IsNetworkPortName(const char* name) {
  return name != nullptr && (std::strncmp(name, "rfc2217://", 10) == 0 || std::strncmp(name, "tcp://", 6) == 0);
}

bool ParseNetworkPort(const char* name, NetworkPortAddress& address) {
  address = NetworkPortAddress{};
  if (!IsNetworkPortName(name)) return false;
  address.rfc2217 = name[0] == 'r';
  const std::string rest(name + (address.rfc2217 ? 10 : 6));
  std::size_t colon = 0;
  if (!rest.empty() && rest[0] == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return false;
    address.host = rest.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = rest.rfind(':');
    if (colon == std::string::npos) return false;
    address.host = rest.substr(0, colon);
    if (address.host.find(':') != std::string::npos) return false;  // an IPv6 literal needs its brackets
  }
  address.service = rest.substr(colon + 1);
  if (address.host.empty() || address.service.empty() || address.service.size() > 5) return false;
  if (!std::all_of(address.service.begin(), address.service.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const long number = std::strtol(address.service.c_str(), nullptr, 10);
  return number >= 1 && number <= 65535;
}

SerialHandle OpenNetworkPort(const char* name, OpenFailure& failure) {
  failure = OpenFailure{};
  NetworkPortAddress address;
  if (!ParseNetworkPort(name, address)) {
    failure.kind = OpenFailureKind::kUnreachable;
    failure.error = kErrorInvalidParameter;
    failure.reason = "keine g\xFCltige Adresse (HOST:PORT)";
    return nullptr;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int resolved = ::getaddrinfo(address.host.c_str(), address.service.c_str(), &hints, &found);
  if (resolved != 0) {
    return Unreachable(failure, resolved == EAI_AGAIN ? "Namensdienst antwortet nicht" : "Rechnername unbekannt",
                       resolved == EAI_SYSTEM ? errno : 0);
  }
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);
  const Clock::time_point deadline = DeadlineAfter(kNetworkConnectLimit);
  int error = ETIMEDOUT;
  int connected_fd = -1;
  for (const addrinfo* each = addresses.get(); each != nullptr && connected_fd < 0; each = each->ai_next) {
    if (Clock::now() >= deadline) break;
    connected_fd = ConnectTo(*each, deadline, error);
  }
  if (connected_fd < 0) return Unreachable(failure, ReasonOfErrno(error), error);
  Fd connected(connected_fd);
  Fd read_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  Fd write_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (read_wake.get() < 0 || write_wake.get() < 0) {
    failure.kind = OpenFailureKind::kOther;
    failure.system_error = errno;
    failure.error = kErrorGenFailure;
    return nullptr;
  }
  auto device = std::make_shared<NetDevice>(connected.release(), read_wake.release(), write_wake.release(),
                                            address.rfc2217);
  device->Offer();
  return device;
}

}  // namespace mfu
