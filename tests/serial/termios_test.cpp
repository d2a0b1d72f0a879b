// The termios backend under the port operations, on pseudo-terminal pairs:
// the test holds the master side and plays the modem.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "serial/comm_port.h"
#include "serial/discovery.h"
#include "serial/serial_device.h"
#include "tests/support/diag_recorder.h"
#include "tests/serial/pty.h"
#include "tests/support/read_limit_contract.h"

namespace mfu {
namespace {

using test::Pty;

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Limits run five times faster. A test in which a pause of the modem must
// stay shorter than the 250 ms gap runs in real time instead, so that a
// loaded machine does not stretch the pause into a gap.
constexpr std::uint32_t kDivisor = 5;

// Waits until `done` holds; false when it still does not after 10 s.
template <typename Done>
bool AwaitThat(Done done) {
  const auto give_up = Clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (Clock::now() > give_up) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         a.c_line == b.c_line && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

// A cooked 9600 setting with software flow control, unlike the working one.
void MakeDistinct(const Pty& pty) {
  termios tio = pty.Settings();
  tio.c_iflag |= IXON | IXOFF | ICRNL;
  tio.c_lflag |= ICANON | ECHO;
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
  tio.c_cflag |= CS7 | PARENB;
  tio.c_cc[VMIN] = 3;
  tio.c_cc[VTIME] = 7;
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  ASSERT_EQ(::tcsetattr(pty.master, TCSANOW, &tio), 0);
}

class TermiosTest : public ::testing::Test {
 protected:
  CommPort comm_;
  void SetUp() override {
    ASSERT_FALSE(pty_.path.empty());
    SetSerialBackend(nullptr);
    SetTimeDivisor(kDivisor);
    comm_.ReadCompleteEvent = MakeEvent(Event::Reset::kManual);
    comm_.WriteCompleteEvent = MakeEvent(Event::Reset::kManual);
  }
  void TearDown() override {
    comm_.CloseCommPort();
    comm_.ReadCompleteEvent.reset();
    comm_.WriteCompleteEvent.reset();
    SetTimeDivisor(1);
  }
  void OpenPort() {
    comm_.SetPortHandle(comm_.OpenCommPort(pty_.path.c_str()));
    ASSERT_TRUE(comm_.PortHandle());
  }
  int Read(std::uint32_t max, Millis limit) { return comm_.ReadFromComm(ModemResponseBuffer, max, limit); }
  std::string Answer(int count) const {
    return std::string(reinterpret_cast<const char*>(ModemResponseBuffer), static_cast<std::size_t>(count));
  }

  Pty pty_;
  test::DiagRecorder diags_;
};

TEST_F(TermiosTest, OpenAppliesRaw57600EightNoneOne) {
  MakeDistinct(pty_);
  OpenPort();
  const termios tio = pty_.Settings();
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B57600));
  EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B57600));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP | INPCK), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

TEST_F(TermiosTest, BytesPassUnchangedBothWays) {
  OpenPort();
  const std::string control("\r\n\x11\x13\x00\xff\x18" "ati4\r\n", 13);
  ASSERT_TRUE(comm_.WriteToComm(reinterpret_cast<const std::uint8_t*>(control.data()), 13));
  EXPECT_EQ(pty_.Received(), control);
  pty_.Send(control);
  ASSERT_EQ(Read(4096, 5000), 13);
  EXPECT_EQ(Answer(13), control);
  EXPECT_EQ(comm_.LastReadCount(), 13u);
}

// In real time: the gap that ends a burst is 250 ms after its last byte,
// however far away the caller's limit is. The burst has a 100 ms pause inside
// it, so a gap measured from the first byte ends the read 100 ms early, and a
// read that waits for its limit ends seconds late.
TEST_F(TermiosTest, TenByteBurstEndsAQuarterSecondAfterItsLastByteHoweverLongTheLimit) {
  SetTimeDivisor(1);
  OpenPort();
  for (const Millis limit : {kInfinite, Millis{50000}, Millis{2000}}) {
    SCOPED_TRACE(limit);
    std::memset(ModemResponseBuffer, 0, 16);
    Clock::time_point last_byte;
    std::thread modem([this, &last_byte] {
      std::this_thread::sleep_for(milliseconds(20));
      pty_.Send("01234");
      std::this_thread::sleep_for(milliseconds(100));  // within the burst
      last_byte = Clock::now();
      pty_.Send("56789");
    });
    const int count = Read(4096, limit);
    const auto end = Clock::now();
    modem.join();
    ASSERT_EQ(count, 10);
    EXPECT_EQ(Answer(10), "0123456789");
    EXPECT_EQ(comm_.LastReadCount(), 10u);
    // The clock read before the last byte went out: the gap is at least 250 ms
    // on it. Load only adds; the nearest limit would end the read ~1900 ms on.
    EXPECT_GE(end - last_byte, milliseconds(250));
    EXPECT_LT(end - last_byte, milliseconds(250 + 1000));
  }
  EXPECT_TRUE(diags_.Lines().empty());
}

// The far end of the line for the read-limit contract: the test's master
// side, sending from a thread of its own.
class PtyPeer final : public test::DribblingPeer {
 public:
  explicit PtyPeer(const Pty& pty) : pty_(pty) {}
  ~PtyPeer() override {
    if (thread_.joinable()) thread_.join();
  }
  // Well under the gap: the peer may stall 200 ms on a loaded machine.
  Millis PaceMs() const override { return 50; }
  void Dribble(int count) override {
    thread_ = std::thread([this, count] {
      for (int i = 0; i < count; ++i) {
        if (i > 0) std::this_thread::sleep_for(milliseconds(PaceMs()));
        pty_.Send(std::string(1, static_cast<char>('a' + i % 26)));
      }
    });
  }

 private:
  const Pty& pty_;
  std::thread thread_;
};

TEST_F(TermiosTest, LimitEndsAReadWhoseBytesKeepComing) {
  SetTimeDivisor(1);
  OpenPort();
  PtyPeer peer(pty_);
  test::ExpectReadEndsAtItsLimit(*comm_.PortHandle(), peer);
}

// A read cut short by its limit keeps its bytes: the next read gets them at
// once instead of losing them, while the line is still busy.
TEST_F(TermiosTest, ReadArmedAgainAfterACutShortBurstGetsItsBytesAtOnce) {
  SetTimeDivisor(1);
  OpenPort();
  pty_.Send("ZRINIT");
  ASSERT_TRUE(pty_.AwaitUnread([](int n) { return n >= 6; }));
  EXPECT_EQ(Read(4096, 20), -1);  // the limit, long before the gap
  pty_.Send("--");                // the line is still busy
  // Armed again with no time at all to wait: only the bytes it already has
  // can complete it.
  const int count = Read(4096, 0);
  ASSERT_GE(count, 6);
  EXPECT_EQ(Answer(count), "ZRINIT" + std::string(static_cast<std::size_t>(count) - 6, '-'));
}

TEST_F(TermiosTest, BurstLongerThanTheCountIsSplitOverTwoReads) {
  OpenPort();
  SetTimeDivisor(1);  // a real 250 ms gap, so that load cannot fake the bound
  pty_.Send("abcdefghijklmnopqrstuvwxyz");
  ASSERT_TRUE(pty_.AwaitUnread([](int n) { return n >= 26; }));
  ASSERT_EQ(Read(20, 0), 20);  // the count is in: no gap to wait for, not even a limit
  EXPECT_EQ(Answer(20), "abcdefghijklmnopqrst");
  ASSERT_EQ(Read(20, 5000), 6);
  EXPECT_EQ(Answer(6), "uvwxyz");
}

TEST_F(TermiosTest, SilenceTimesOutAndLateBytesCompleteThePendingRead) {
  OpenPort();
  const auto start = Clock::now();
  EXPECT_EQ(Read(4096, 1000), -1);  // 200 ms real
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, milliseconds(1000 / kDivisor));
  EXPECT_LT(elapsed, milliseconds(1000 / kDivisor + 5000));  // did not hang
  EXPECT_EQ(diags_.Count("READ TIMEOUT\n"), 1);
  EXPECT_EQ(comm_.LastReadCount(), 0u);

  std::uint32_t error = 0;
  const auto check = Clock::now();
  EXPECT_FALSE(comm_.GetOverlappedReadResult(error));
  EXPECT_LT(Clock::now() - check, milliseconds(5000));  // the check does not wait for a byte (none comes)
  EXPECT_EQ(error, kErrorIoIncomplete);

  pty_.Send("spaet");
  ASSERT_TRUE(pty_.AwaitUnread([](int n) { return n >= 5; }));
  ASSERT_TRUE(comm_.GetOverlappedReadResult(error));
  EXPECT_EQ(comm_.LastReadCount(), 5u);
  EXPECT_EQ(Answer(5), "spaet");
}

TEST_F(TermiosTest, CompletionCheckTakesALateBurstWhole) {
  SetTimeDivisor(1);
  OpenPort();
  EXPECT_EQ(Read(4096, 100), -1);
  std::uint32_t error = 0;
  EXPECT_FALSE(comm_.GetOverlappedReadResult(error));
  EXPECT_EQ(error, kErrorIoIncomplete);
  EXPECT_FALSE(comm_.GetOverlappedReadResult(error));  // asking again changes nothing
  EXPECT_EQ(error, kErrorIoIncomplete);
  EXPECT_FALSE(comm_.ReadCompleteEvent->IsSet());

  pty_.Send("ZRINIT-");
  ASSERT_TRUE(pty_.AwaitUnread([](int n) { return n >= 7; }));
  std::thread modem([this] {
    // The rest of the same burst, 50 ms after the check has taken its start.
    pty_.AwaitUnread([](int n) { return n == 0; });
    std::this_thread::sleep_for(milliseconds(50));
    pty_.Send("header");
  });
  ASSERT_TRUE(comm_.GetOverlappedReadResult(error));
  modem.join();
  EXPECT_EQ(error, kErrorSuccess);
  EXPECT_EQ(comm_.LastReadCount(), 13u);
  EXPECT_EQ(Answer(13), "ZRINIT-header");
  EXPECT_TRUE(comm_.ReadCompleteEvent->IsSet());
  EXPECT_EQ(diags_.Lines(), (std::vector<std::string>{"READ TIMEOUT\n"}));
}

TEST_F(TermiosTest, ReadArmedAgainAfterATimeOutTakesTheLateBytes) {
  OpenPort();
  EXPECT_EQ(Read(4096, 200), -1);
  pty_.Send("ZRINIT");
  ASSERT_EQ(Read(4096, 5000), 6);
  EXPECT_EQ(Answer(6), "ZRINIT");
}

TEST_F(TermiosTest, IdentifierAfterAPauseIsNotInTheFirstBurst) {
  SetTimeDivisor(1);
  OpenPort();
  std::thread modem([this] {
    pty_.Send("ati4\r\n");
    // Three gaps after the probe has taken the first burst.
    pty_.AwaitUnread([](int n) { return n == 0; });
    std::this_thread::sleep_for(milliseconds(750));
    pty_.Send("QVRLMAZZ\r\n");
  });
  EXPECT_FALSE(IsSupportedModemAnswer(comm_, 50000));
  modem.join();
  EXPECT_EQ(Answer(static_cast<int>(comm_.LastReadCount())), "ati4\r\n");
}

TEST_F(TermiosTest, BytesBeyondTheCountKeepAnEarlierAnswer) {
  OpenPort();
  pty_.Send(std::string(20, 'A'));
  ASSERT_EQ(Read(4096, 5000), 20);
  pty_.Send("bbbbb");
  ASSERT_EQ(Read(4096, 5000), 5);
  EXPECT_EQ(Answer(20), "bbbbb" + std::string(15, 'A'));
}

TEST_F(TermiosTest, CloseRestoresTheSettingsExactly) {
  MakeDistinct(pty_);
  const termios before = pty_.Settings();
  OpenPort();
  EXPECT_FALSE(SameSettings(before, pty_.Settings()));
  comm_.CloseCommPort();
  EXPECT_FALSE(comm_.PortHandle());
  EXPECT_TRUE(SameSettings(before, pty_.Settings()));
}

TEST_F(TermiosTest, DoubleOpenKeepsTheFirstCopyAndTheCloseRestoresItOnce) {
  Pty other;
  MakeDistinct(pty_);
  const termios first = pty_.Settings();
  const termios second_before = other.Settings();
  ASSERT_FALSE(SameSettings(first, second_before));

  SerialHandle held = comm_.OpenCommPort(pty_.path.c_str());
  ASSERT_TRUE(held);
  comm_.SetPortHandle(comm_.OpenCommPort(other.path.c_str()));
  ASSERT_TRUE(comm_.PortHandle());
  comm_.CloseCommPort();
  // The close restores the one saved copy: that of the first open.
  EXPECT_TRUE(SameSettings(first, other.Settings()));

  // Both flags were cleared: the next open saves afresh.
  held.reset();
  termios changed = other.Settings();
  cfsetospeed(&changed, B19200);
  cfsetispeed(&changed, B19200);
  ASSERT_EQ(::tcsetattr(other.master, TCSANOW, &changed), 0);
  comm_.SetPortHandle(comm_.OpenCommPort(other.path.c_str()));
  ASSERT_TRUE(comm_.PortHandle());
  comm_.CloseCommPort();
  EXPECT_TRUE(SameSettings(changed, other.Settings()));
}

TEST_F(TermiosTest, APortThatIsHeldCannotBeOpenedAgain) {
  MakeDistinct(pty_);
  const termios before = pty_.Settings();
  SerialHandle held = comm_.OpenCommPort(pty_.path.c_str());
  ASSERT_TRUE(held);
  EXPECT_TRUE(pty_.Exclusive());
  EXPECT_FALSE(comm_.OpenCommPort(pty_.path.c_str()));
  EXPECT_FALSE(PlatformSerialBackend().Open(pty_.path.c_str()));
  // The refused opens left the holder's exclusive flag alone.
  EXPECT_TRUE(pty_.Exclusive());
  // The failed open saved nothing: the close restores the first port's copy.
  comm_.SetPortHandle(held);
  held.reset();
  comm_.CloseCommPort();
  EXPECT_TRUE(SameSettings(before, pty_.Settings()));
  EXPECT_FALSE(pty_.Exclusive());  // released with the device
  // Once released, the port opens again.
  SerialHandle again = PlatformSerialBackend().Open(pty_.path.c_str());
  EXPECT_TRUE(again);
}

TEST_F(TermiosTest, NamesThatAreNoDeviceGiveNone) {
  EXPECT_FALSE(PlatformSerialBackend().Open("/nonexistent/tty"));
  // No COM name here: COM1 to COM4 are real devices, never opened by a test.
  EXPECT_FALSE(PlatformSerialBackend().Open("ttyS0"));  // relative: no device
  EXPECT_FALSE(PlatformSerialBackend().Open("/dev/null"));  // not a terminal
  EXPECT_FALSE(comm_.OpenCommPort(nullptr));
}

TEST_F(TermiosTest, PseudoTerminalReportsClearToSendAndDataSetReady) {
  OpenPort();
  std::uint32_t bits = 0;
  ASSERT_TRUE(comm_.GetCommModemStatus(bits));
  EXPECT_EQ(bits, kMsCtsOn | kMsDsrOn);
}

TEST_F(TermiosTest, WithoutAPortNothingIsReadOrWritten) {
  // A count left from an answer on a port since closed.
  OpenPort();
  pty_.Send("ANSWER!");
  ASSERT_EQ(Read(4096, 5000), 7);
  comm_.CloseCommPort();
  std::memset(ModemResponseBuffer, 0x5A, 16);
  EXPECT_FALSE(comm_.WriteToComm("ati4\r\n"));
  EXPECT_EQ(Read(4096, 100), 0);
  EXPECT_EQ(comm_.LastReadCount(), 7u);  // the read never started
  for (int i = 0; i < 16; ++i) EXPECT_EQ(ModemResponseBuffer[i], 0x5A);
  std::uint32_t bits = 0;
  EXPECT_FALSE(comm_.GetCommModemStatus(bits));
  std::uint32_t error = 0;
  EXPECT_FALSE(comm_.GetOverlappedReadResult(error));
  EXPECT_EQ(error, kErrorInvalidHandle);
  comm_.CloseCommPort();  // nothing to do
  EXPECT_TRUE(diags_.Lines().empty());
}

TEST_F(TermiosTest, CloseFromAnotherThreadEndsABlockedRead) {
  MakeDistinct(pty_);
  const termios before = pty_.Settings();
  OpenPort();
  // A count the next read clears as it begins.
  pty_.Send("7 bytes");
  ASSERT_EQ(Read(4096, 50000), 7);
  auto reader = std::async(std::launch::async, [this] { return Read(4096, kInfinite); });
  // The read has begun (it clears the count), then is well into its wait.
  ASSERT_TRUE(AwaitThat([this] { return comm_.LastReadCount() == 0; }));
  std::this_thread::sleep_for(milliseconds(50));
  ASSERT_EQ(reader.wait_for(milliseconds(0)), std::future_status::timeout);
  comm_.CloseCommPort();
  ASSERT_EQ(reader.wait_for(milliseconds(5000)), std::future_status::ready);
  EXPECT_EQ(reader.get(), 0);
  EXPECT_EQ(diags_.Count("GOT ERROR FROM READ FN\n"), 1);
  EXPECT_TRUE(SameSettings(before, pty_.Settings()));
  EXPECT_EQ(Read(4096, 100), 0);  // the port is gone
}

TEST_F(TermiosTest, CloseFromAnotherThreadEndsAWriteTheModemDoesNotTake) {
  OpenPort();
  // Nobody reads the master: the write fills the line and blocks.
  static std::uint8_t big[1 << 20];
  auto writer = std::async(std::launch::async, [this] { return comm_.WriteToComm(big, sizeof big); });
  // The write has begun (its first bytes are on the line), then fills it.
  pollfd line{pty_.master, POLLIN, 0};
  ASSERT_EQ(::poll(&line, 1, 10000), 1);
  std::this_thread::sleep_for(milliseconds(50));
  ASSERT_EQ(writer.wait_for(milliseconds(0)), std::future_status::timeout);
  comm_.CloseCommPort();
  ASSERT_EQ(writer.wait_for(milliseconds(2000)), std::future_status::ready);
  EXPECT_FALSE(writer.get());
  EXPECT_EQ(diags_.Count("Write aborted\n"), 1);
  EXPECT_EQ(diags_.Count("Error writing data to port (overlapped)\n"), 1);
}

TEST_F(TermiosTest, AByteWrittenJustBeforeTheCloseStillReachesTheModem) {
  OpenPort();
  EXPECT_EQ(Read(4096, 100), -1);  // a read is pending, as in a session
  ASSERT_TRUE(comm_.WriteToComm("c"));
  comm_.CloseCommPort();  // purges, but a completed write has left our hands
  EXPECT_EQ(pty_.Received(), "c");
}

TEST_F(TermiosTest, DeviceCallsAfterCloseFailWithAnInvalidHandle) {
  SerialHandle port = PlatformSerialBackend().Open(pty_.path.c_str());
  ASSERT_TRUE(port);
  port->Close();
  port->Close();  // idempotent
  std::uint8_t buffer[4];
  const IoResult read = port->StartRead(buffer, sizeof buffer);
  EXPECT_EQ(read.state, IoResult::State::kFailed);
  EXPECT_EQ(read.error, kErrorInvalidHandle);
  const IoResult write = port->StartWrite(buffer, sizeof buffer);
  EXPECT_EQ(write.state, IoResult::State::kFailed);
  EXPECT_EQ(write.error, kErrorInvalidHandle);
  std::uint32_t bits = 0;
  std::uint32_t error = 0;
  EXPECT_FALSE(port->GetModemStatus(bits, error));
  EXPECT_EQ(error, kErrorInvalidHandle);
  PortSettings state;
  EXPECT_FALSE(port->GetState(state));
}

// More than the line holds at once: the write goes on in FinishWrite while
// the modem takes the bytes slowly, and every byte arrives once, in order.
TEST_F(TermiosTest, ALongWriteGoesOutWholeWhileTheModemTakesItSlowly) {
  OpenPort();
  std::vector<std::uint8_t> data(256 * 1024);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  std::string received;
  std::thread modem([this, &received, size = data.size()] {
    pollfd fd{pty_.master, POLLIN, 0};
    while (received.size() < size && ::poll(&fd, 1, 2000) > 0) {
      char chunk[1024];
      const ssize_t n = ::read(pty_.master, chunk, sizeof chunk);
      if (n <= 0) break;
      received.append(chunk, static_cast<std::size_t>(n));
      if (received.size() % 16384 < 1024) std::this_thread::sleep_for(milliseconds(1));
    }
  });
  EXPECT_TRUE(comm_.WriteToComm(data.data(), static_cast<std::int32_t>(data.size())));
  modem.join();
  ASSERT_EQ(received.size(), data.size());
  EXPECT_TRUE(std::memcmp(received.data(), data.data(), data.size()) == 0);
  EXPECT_TRUE(comm_.WriteCompleteEvent->IsSet());
  EXPECT_TRUE(diags_.Lines().empty());
}

// The other end goes away (the bridge's master closes) while a read waits
// without a limit: the read ends at once with an error, and does not spin.
TEST_F(TermiosTest, AHangUpEndsABlockedRead) {
  OpenPort();
  // A count the next read clears as it begins.
  pty_.Send("7 bytes");
  ASSERT_EQ(Read(4096, 50000), 7);
  auto reader = std::async(std::launch::async, [this] { return Read(4096, kInfinite); });
  ASSERT_TRUE(AwaitThat([this] { return comm_.LastReadCount() == 0; }));
  std::this_thread::sleep_for(milliseconds(30));
  ASSERT_EQ(reader.wait_for(milliseconds(0)), std::future_status::timeout);
  pty_.CloseMaster();
  ASSERT_EQ(reader.wait_for(milliseconds(2000)), std::future_status::ready);
  EXPECT_EQ(reader.get(), 0);
  EXPECT_EQ(diags_.Count("GOT ERROR FROM READ FN\n"), 1);
}

TEST_F(TermiosTest, PurgeEndsAPendingReadAndDropsWhatCame) {
  OpenPort();
  SerialHandle port = comm_.PortHandle();
  EXPECT_EQ(Read(4096, 100), -1);
  pty_.Send("old");
  ASSERT_TRUE(pty_.AwaitUnread([](int n) { return n >= 3; }));
  ASSERT_TRUE(port->Purge());
  std::uint32_t error = 0;
  EXPECT_FALSE(comm_.GetOverlappedReadResult(error));
  EXPECT_EQ(error, kErrorOperationAborted);
  EXPECT_EQ(Read(4096, 100), -1);  // "old" was dropped with the read
}

}  // namespace
}  // namespace mfu
