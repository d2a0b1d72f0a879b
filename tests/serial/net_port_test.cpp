// Network ports against a loopback server written here: the Telnet bytes on
// the wire, byte for byte, the read-limit contract, a server that goes
// away, and the reasons of a failed open.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "serial/posix/hardware_port.h"
#include "serial/posix/net_port.h"
#include "serial/serial_device.h"
#include "tests/support/read_limit_contract.h"

namespace mfu {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A loopback listener on a port the system picks, and the one connection it
// accepts: the terminal server's side.
class Server {
 public:
  Server() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(listen_, 1) == 0 &&
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~Server() {
    Hangup();
    ::close(listen_);
  }
  std::string Name(const char* scheme) const { return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_); }
  bool Accept() {
    pollfd ready{listen_, POLLIN, 0};
    if (::poll(&ready, 1, 10000) != 1) return false;
    peer_ = ::accept(listen_, nullptr, nullptr);
    return peer_ >= 0;
  }
  void Send(const std::string& bytes) const { ASSERT_EQ(::send(peer_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size())); }
  // Exactly `count` bytes, or what came within 10 s.
  std::string Receive(std::size_t count) const {
    std::string bytes;
    const auto give_up = Clock::now() + std::chrono::seconds(10);
    while (bytes.size() < count && Clock::now() < give_up) {
      pollfd ready{peer_, POLLIN, 0};
      if (::poll(&ready, 1, 100) != 1) continue;
      char chunk[256];
      const ssize_t n = ::recv(peer_, chunk, std::min(sizeof chunk, count - bytes.size()), 0);
      if (n <= 0) break;
      bytes.append(chunk, static_cast<std::size_t>(n));
    }
    return bytes;
  }
  void Hangup() {
    if (peer_ >= 0) ::close(peer_);
    peer_ = -1;
  }
  int Peer() const { return peer_; }

 private:
  int listen_ = -1;
  int peer_ = -1;
  int port_ = 0;
};

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values) bytes += static_cast<char>(value);
  return bytes;
}
// WILL BINARY, DO BINARY, WILL COM-PORT-OPTION.
const std::string kOffer = Bytes({255, 251, 0, 255, 253, 0, 255, 251, 44});

class NetPortTest : public ::testing::Test {
 protected:
  void Open(const char* scheme) {
    SetTimeDivisor(1);
    OpenFailure failure;
    device_ = OpenNetworkPort(server_.Name(scheme).c_str(), failure);
    ASSERT_TRUE(device_) << failure.reason;
    ASSERT_TRUE(server_.Accept());
    if (std::string(scheme) == "rfc2217") {
      ASSERT_EQ(server_.Receive(kOffer.size()), kOffer);
    }
  }
  // One read of the device with a limit: its bytes, or "<failed N>".
  std::string Read(Millis limit) {
    std::uint8_t buffer[64];
    IoResult started = device_->StartRead(buffer, sizeof buffer);
    if (started.state == IoResult::State::kPending) {
      if (!device_->WaitRead(limit)) return "<limit>";
      started = device_->ReadResult();
    }
    if (started.state == IoResult::State::kFailed) return "<failed " + std::to_string(started.error) + ">";
    return std::string(reinterpret_cast<const char*>(buffer), started.count);
  }

  Server server_;
  SerialHandle device_;
};

TEST_F(NetPortTest, Rfc2217SendsTheLineSettingsAndDoublesEveryFF) {
  Open("rfc2217");
  ASSERT_TRUE(device_->ApplyWorkingState(PortSettings{}));
  // SET-BAUDRATE 57600, SET-DATASIZE 8, SET-PARITY none, SET-STOPSIZE 1,
  // SET-CONTROL DTR on, RTS on.
  const std::string settings = Bytes({255, 250, 44, 1, 0, 0, 0xE1, 0, 255, 240, 255, 250, 44, 2, 8, 255, 240,
                                      255, 250, 44, 3, 1, 255, 240, 255, 250, 44, 4, 1, 255, 240,
                                      255, 250, 44, 5, 8, 255, 240, 255, 250, 44, 5, 11, 255, 240});
  EXPECT_EQ(server_.Receive(settings.size()), settings);
  ASSERT_TRUE(device_->SetDtr(false));
  EXPECT_EQ(server_.Receive(7), Bytes({255, 250, 44, 5, 9, 255, 240}));
  // Nothing written yet: the purge drops both of the server's buffers.
  ASSERT_TRUE(device_->Purge());
  EXPECT_EQ(server_.Receive(7), Bytes({255, 250, 44, 12, 3, 255, 240}));

  const std::uint8_t data[] = {0x2A, 0xFF, 0x18, 0xFF, 0xFF};
  const IoResult written = device_->StartWrite(data, sizeof data);
  ASSERT_EQ(written.state, IoResult::State::kCompleted);
  EXPECT_EQ(written.count, sizeof data);  // the caller's count, not the doubled one
  EXPECT_EQ(server_.Receive(8), Bytes({0x2A, 255, 255, 0x18, 255, 255, 255, 255}));
  // After a completed write only the modem's side is dropped.
  ASSERT_TRUE(device_->Purge());
  EXPECT_EQ(server_.Receive(7), Bytes({255, 250, 44, 12, 1, 255, 240}));
}

TEST_F(NetPortTest, Rfc2217TakesTelnetCommandsOutOfTheData) {
  Open("rfc2217");
  std::uint32_t bits = 0, error = 0;
  ASSERT_TRUE(device_->GetModemStatus(bits, error));
  EXPECT_EQ(bits, kMsCtsOn | kMsDsrOn);  // no report yet: present
  ASSERT_TRUE(device_->ApplyWorkingTimeouts());
  // Agreement to our offer, a request to ECHO, a modem state with DSR only
  // and a carrier, doubled 0xFF in the data and in a subnegotiation.
  server_.Send(Bytes({255, 253, 0, 255, 251, 0, 255, 253, 44, 'O', 255, 253, 1, 'K', 255, 255, 255, 250, 44, 107,
                      0xA0, 255, 240, 255, 250, 44, 101, 0, 0, 255, 255, 0, 255, 240, '!', 255, 241}));
  EXPECT_EQ(Read(5000), Bytes({'O', 'K', 255, '!'}));
  // ECHO refused; the agreements to our own offer are not answered again.
  EXPECT_EQ(server_.Receive(3), Bytes({255, 252, 1}));
  ASSERT_TRUE(device_->GetModemStatus(bits, error));
  EXPECT_EQ(bits, kMsCtsOn | kMsDsrOn | kMsRlsdOn);  // the modem stays present; the carrier is passed on
  // A command split across two segments is still a command.
  server_.Send(Bytes({'a', 255}));
  server_.Send(Bytes({255, 'b', 255}));
  server_.Send(Bytes({241, 'c'}));
  EXPECT_EQ(Read(5000), Bytes({'a', 255, 'b', 'c'}));
}

TEST_F(NetPortTest, TcpCarriesEveryByteAsItIs) {
  Open("tcp");
  ASSERT_TRUE(device_->ApplyWorkingState(PortSettings{}));
  ASSERT_TRUE(device_->SetDtr(false));
  ASSERT_TRUE(device_->ApplyWorkingTimeouts());
  const std::uint8_t data[] = {0xFF, 0xFB, 0x00};
  ASSERT_EQ(device_->StartWrite(data, sizeof data).state, IoResult::State::kCompleted);
  EXPECT_EQ(server_.Receive(3), Bytes({255, 251, 0}));  // no line control went before it
  server_.Send(Bytes({255, 250, 44, 107, 0, 255, 240}));
  EXPECT_EQ(Read(5000), Bytes({255, 250, 44, 107, 0, 255, 240}));
  std::uint32_t bits = 0, error = 0;
  ASSERT_TRUE(device_->GetModemStatus(bits, error));
  EXPECT_EQ(bits, kMsCtsOn | kMsDsrOn);
}

// The far end for the read-limit contract: the server's socket, sending from
// a thread of its own.
class SocketPeer final : public test::DribblingPeer {
 public:
  explicit SocketPeer(const Server& server) : server_(server) {}
  ~SocketPeer() override {
    if (thread_.joinable()) thread_.join();
  }
  Millis PaceMs() const override { return 50; }
  void Dribble(int count) override {
    thread_ = std::thread([this, count] {
      for (int i = 0; i < count; ++i) {
        if (i > 0) std::this_thread::sleep_for(milliseconds(PaceMs()));
        const char byte = static_cast<char>('a' + i % 26);
        (void)::send(server_.Peer(), &byte, 1, MSG_NOSIGNAL);
      }
    });
  }

 private:
  const Server& server_;
  std::thread thread_;
};

TEST_F(NetPortTest, LimitEndsAReadWhoseBytesKeepComing) {
  Open("rfc2217");
  ASSERT_TRUE(device_->ApplyWorkingTimeouts());
  SocketPeer peer(server_);
  test::ExpectReadEndsAtItsLimit(*device_, peer);
}

// The server going away mid-transfer is a line that has gone: the read
// waiting for an answer ends at once, not at its limit, and writes fail.
TEST_F(NetPortTest, AServerThatGoesAwayEndsTheReadAsAHangup) {
  Open("tcp");
  ASSERT_TRUE(device_->ApplyWorkingTimeouts());
  std::uint8_t buffer[16];
  ASSERT_EQ(device_->StartRead(buffer, sizeof buffer).state, IoResult::State::kPending);
  std::thread hangup([this] {
    std::this_thread::sleep_for(milliseconds(100));
    server_.Hangup();
  });
  const auto start = Clock::now();
  EXPECT_TRUE(device_->WaitRead(60000));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
  hangup.join();
  const IoResult result = device_->ReadResult();
  EXPECT_EQ(result.state, IoResult::State::kFailed);
  EXPECT_EQ(result.error, kErrorDeviceRemoved);
  // The peer's reset may take a write or two to show.
  const std::uint8_t byte = 'x';
  IoResult written{};
  for (int i = 0; i < 100; ++i) {
    written = device_->StartWrite(&byte, 1);
    if (written.state == IoResult::State::kPending) written = device_->FinishWrite();
    if (written.state == IoResult::State::kFailed) break;
    std::this_thread::sleep_for(milliseconds(10));
  }
  EXPECT_EQ(written.state, IoResult::State::kFailed);
  EXPECT_EQ(written.error, kErrorDeviceRemoved);
}

// Close from another thread ends a read that waits without a limit's end.
TEST_F(NetPortTest, CloseEndsABlockedRead) {
  Open("rfc2217");
  std::uint8_t buffer[16];
  ASSERT_EQ(device_->StartRead(buffer, sizeof buffer).state, IoResult::State::kPending);
  std::thread closer([this] {
    std::this_thread::sleep_for(milliseconds(50));
    device_->Close();
  });
  EXPECT_TRUE(device_->WaitRead(60000));
  closer.join();
  EXPECT_EQ(device_->ReadResult().error, kErrorOperationAborted);
}

TEST(NetPortOpen, SaysWhyTheServerCannotBeReached) {
  struct Case {
    std::string name;
    OpenFailureKind kind;
    std::string reason;
  };
  std::string refused;
  {
    const Server closed;  // listening, then closed: nothing answers on its port
    refused = closed.Name("tcp");
  }
  const Case cases[] = {
      {refused, OpenFailureKind::kUnreachable, "Verbindung abgelehnt"},
      {"tcp://host.invalid:4000", OpenFailureKind::kUnreachable, "Rechnername unbekannt"},
      {"rfc2217://127.0.0.1", OpenFailureKind::kUnreachable, "keine g\xFCltige Adresse (HOST:PORT)"},
      {"tcp://127.0.0.1:0", OpenFailureKind::kUnreachable, "keine g\xFCltige Adresse (HOST:PORT)"},
      {"tcp://::1:4000", OpenFailureKind::kUnreachable, "keine g\xFCltige Adresse (HOST:PORT)"},
  };
  for (const Case& each : cases) {
    OpenFailure failure;
    EXPECT_FALSE(OpenNetworkPort(each.name.c_str(), failure)) << each.name;
    EXPECT_EQ(failure.kind, each.kind) << each.name;
    // Without a name server at hand the resolver says so instead.
    const bool no_resolver = each.reason == "Rechnername unbekannt" &&
                             std::string(failure.reason) == "Namensdienst antwortet nicht";
    if (!no_resolver) {
      EXPECT_EQ(std::string(failure.reason), each.reason) << each.name;
    }
  }
}

TEST(NetPortOpen, ParsesHostAndPortWithIpv6InBrackets) {
  NetworkPortAddress address;
  ASSERT_TRUE(ParseNetworkPort("rfc2217://[::1]:7000", address));
  EXPECT_TRUE(address.rfc2217);
  EXPECT_EQ(address.host, "::1");
  EXPECT_EQ(address.service, "7000");
  ASSERT_TRUE(ParseNetworkPort("tcp://ts.example:65535", address));
  EXPECT_FALSE(address.rfc2217);
  EXPECT_EQ(address.host, "ts.example");
  for (const char* bad : {"tcp://:7000", "tcp://[::1]7000", "tcp://h:65536", "tcp://h:70x", "tcp://h:", "/dev/ttyS0",
                          "telnet://h:7000"}) {
    EXPECT_FALSE(ParseNetworkPort(bad, address)) << bad;
  }
  EXPECT_FALSE(IsNetworkPortName("/dev/ttyUSB0"));
  EXPECT_TRUE(IsNetworkPortName("tcp://"));
}

// The stand-in build keeps off network ports unless the line is marked
// simulated: the backend's answer follows the variable.
TEST(NetPortOpen, CountsAsHardwareUnlessTheLineIsMarkedSimulated) {
  EXPECT_TRUE(NetworkPortIsHardware(nullptr));
  EXPECT_TRUE(NetworkPortIsHardware("11"));
  EXPECT_TRUE(NetworkPortIsHardware(""));
  EXPECT_FALSE(NetworkPortIsHardware("1"));
  const char* had = std::getenv(kSimulatedLineVariable);
  const std::string saved = had != nullptr ? had : "";
  ::unsetenv(kSimulatedLineVariable);
  EXPECT_TRUE(PlatformSerialBackend().IsHardwarePort("rfc2217://127.0.0.1:7000"));
  ::setenv(kSimulatedLineVariable, "1", 1);
  EXPECT_FALSE(PlatformSerialBackend().IsHardwarePort("tcp://127.0.0.1:7000"));
  if (had != nullptr) {
    ::setenv(kSimulatedLineVariable, saved.c_str(), 1);
  } else {
    ::unsetenv(kSimulatedLineVariable);
  }
}

}  // namespace
}  // namespace mfu
