// The Win32 serial device's overlapped reads and writes, run over an
// overlapped named pipe (the same ReadFile / WriteFile / GetOverlappedResult /
// CancelIoEx machinery; the communications calls themselves need a port and
// are covered by the end-to-end run): a timed-out read stays pending and its
// later bytes are not lost, re-arming is sound, Close ends a blocked wait.
// A pipe read ends at its first bytes, so the read limit is pinned on a
// serial port instead: Wine's, on a pseudo-terminal.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "serial/serial_device.h"
#include "serial/win32/win32_error.h"
#include "serial/win32/win32_serial_device.h"
#include "tests/support/read_limit_contract.h"

namespace mfu {
namespace {

class PipeDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> serial{0};
    const std::string name = "\\\\.\\pipe\\mfu_device_test_" + std::to_string(::GetCurrentProcessId()) + "_" +
                             std::to_string(serial++);
    HANDLE server = ::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    peer_ = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(peer_, INVALID_HANDLE_VALUE);
    device_ = std::make_shared<Win32SerialDevice>(server);
  }
  void TearDown() override {
    device_.reset();
    if (peer_ != INVALID_HANDLE_VALUE) ::CloseHandle(peer_);
  }
  void PeerSends(const std::string& bytes) {
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(peer_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
  }
  std::string PeerReceives(std::size_t count) {
    std::string bytes(count, '\0');
    DWORD got = 0;
    EXPECT_TRUE(::ReadFile(peer_, bytes.data(), static_cast<DWORD>(count), &got, nullptr));
    bytes.resize(got);
    return bytes;
  }

  HANDLE peer_ = INVALID_HANDLE_VALUE;
  std::shared_ptr<Win32SerialDevice> device_;
  std::uint8_t buffer_[64] = {};
};

TEST_F(PipeDeviceTest, ReadCompletesWithTheBytesThatCame) {
  PeerSends("QVRLMAZZ");  // in the pipe once WriteFile has returned
  IoResult start = device_->StartRead(buffer_, sizeof buffer_);
  if (start.state == IoResult::State::kPending) {
    ASSERT_TRUE(device_->WaitRead(1000));
    start = device_->ReadResult();
  }
  ASSERT_EQ(start.state, IoResult::State::kCompleted);
  EXPECT_EQ(start.count, 8u);
  EXPECT_EQ(std::memcmp(buffer_, "QVRLMAZZ", 8), 0);
}

TEST_F(PipeDeviceTest, TimedOutReadStaysPendingAndTheCheckTakesItsBytes) {
  ASSERT_EQ(device_->StartRead(buffer_, sizeof buffer_).state, IoResult::State::kPending);
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_FALSE(device_->WaitRead(100));
  // From before the wait; a Windows timer may end it a tick (15.6 ms) short.
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(100 - 16));
  IoResult check = device_->ReadResult();
  EXPECT_EQ(check.state, IoResult::State::kFailed);
  EXPECT_EQ(check.error, kErrorIoIncomplete);
  PeerSends("late");
  ASSERT_TRUE(device_->WaitRead(1000));
  check = device_->ReadResult();
  ASSERT_EQ(check.state, IoResult::State::kCompleted);
  EXPECT_EQ(check.count, 4u);
  EXPECT_EQ(std::memcmp(buffer_, "late", 4), 0);
  // Asking again gives the same result.
  EXPECT_EQ(device_->ReadResult().count, 4u);
}

TEST_F(PipeDeviceTest, RearmingAfterUnfetchedBytesHandsThemToTheNewRead) {
  ASSERT_EQ(device_->StartRead(buffer_, sizeof buffer_).state, IoResult::State::kPending);
  EXPECT_FALSE(device_->WaitRead(30));
  PeerSends("ZACK");
  // The system has completed the read; the device has not fetched it yet.
  ASSERT_TRUE(device_->WaitRead(10000));
  const IoResult again = device_->StartRead(buffer_, sizeof buffer_);
  ASSERT_EQ(again.state, IoResult::State::kCompleted);
  EXPECT_EQ(again.count, 4u);
  EXPECT_EQ(std::memcmp(buffer_, "ZACK", 4), 0);
}

TEST_F(PipeDeviceTest, RearmingIntoAnotherBufferMovesTheBytes) {
  std::uint8_t first[16] = {};
  ASSERT_EQ(device_->StartRead(first, sizeof first).state, IoResult::State::kPending);
  EXPECT_FALSE(device_->WaitRead(30));
  PeerSends("abc");
  ASSERT_TRUE(device_->WaitRead(10000));  // completed, not fetched
  const IoResult again = device_->StartRead(buffer_, 2);
  ASSERT_EQ(again.state, IoResult::State::kCompleted);
  EXPECT_EQ(again.count, 2u);
  EXPECT_EQ(std::memcmp(buffer_, "ab", 2), 0);
}

TEST_F(PipeDeviceTest, RearmingAnEmptyPendingReadLosesNothingLater) {
  ASSERT_EQ(device_->StartRead(buffer_, sizeof buffer_).state, IoResult::State::kPending);
  EXPECT_FALSE(device_->WaitRead(30));
  ASSERT_EQ(device_->StartRead(buffer_, sizeof buffer_).state, IoResult::State::kPending);
  PeerSends("OO");
  ASSERT_TRUE(device_->WaitRead(1000));
  const IoResult result = device_->ReadResult();
  ASSERT_EQ(result.state, IoResult::State::kCompleted);
  EXPECT_EQ(result.count, 2u);
  EXPECT_EQ(std::memcmp(buffer_, "OO", 2), 0);
}

// The connection procedure's interrupt purges the port while its worker
// waits for a silent modem: the purge must end the pending read by itself
// (PurgeComm does not, on a pipe or on Wine's ports), and the next read
// must still get the peer's bytes.
TEST_F(PipeDeviceTest, PurgeEndsAPendingRead) {
  ASSERT_EQ(device_->StartRead(buffer_, sizeof buffer_).state, IoResult::State::kPending);
  (void)device_->Purge();
  ASSERT_TRUE(device_->WaitRead(10000));  // the peer sends nothing: only the purge can end it
  const IoResult aborted = device_->ReadResult();
  EXPECT_EQ(aborted.state, IoResult::State::kFailed);
  EXPECT_EQ(aborted.error, kErrorOperationAborted);
  EXPECT_EQ(aborted.count, 0u);
  ASSERT_EQ(device_->StartRead(buffer_, sizeof buffer_).state, IoResult::State::kPending);
  PeerSends("OK");
  ASSERT_TRUE(device_->WaitRead(10000));
  const IoResult next = device_->ReadResult();
  ASSERT_EQ(next.state, IoResult::State::kCompleted);
  EXPECT_EQ(next.count, 2u);
  EXPECT_EQ(std::memcmp(buffer_, "OK", 2), 0);
}

TEST_F(PipeDeviceTest, WriteGoesOutWhole) {
  const std::string frame = "**\x18" "B0100000000aa51\r\n";
  IoResult write = device_->StartWrite(reinterpret_cast<const std::uint8_t*>(frame.data()),
                                       static_cast<std::uint32_t>(frame.size()));
  if (write.state == IoResult::State::kPending) write = device_->FinishWrite();
  ASSERT_EQ(write.state, IoResult::State::kCompleted);
  EXPECT_EQ(write.count, frame.size());
  EXPECT_EQ(PeerReceives(frame.size()), frame);
}

TEST_F(PipeDeviceTest, CloseEndsABlockedWaitAndLaterCallsFail) {
  ASSERT_EQ(device_->StartRead(buffer_, sizeof buffer_).state, IoResult::State::kPending);
  std::thread closer([this] {
    ::Sleep(50);
    device_->Close();
  });
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_TRUE(device_->WaitRead(kInfinite));
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));  // did not hang
  closer.join();
  const IoResult result = device_->ReadResult();
  EXPECT_EQ(result.state, IoResult::State::kFailed);
  EXPECT_EQ(device_->StartRead(buffer_, sizeof buffer_).error, kErrorInvalidHandle);
  EXPECT_EQ(device_->StartWrite(buffer_, 1).error, kErrorInvalidHandle);
  std::uint32_t bits = 0, error = 0;
  EXPECT_FALSE(device_->GetModemStatus(bits, error));
  EXPECT_EQ(error, kErrorInvalidHandle);
  EXPECT_FALSE(device_->Purge());
  device_->Close();  // idempotent
}

TEST_F(PipeDeviceTest, DestroyingWithAPendingReadIsSafe) {
  ASSERT_EQ(device_->StartRead(buffer_, sizeof buffer_).state, IoResult::State::kPending);
  device_.reset();  // cancels and waits for the record before closing
  SUCCEED();
}

// The far end of the port is tools/wine/pty_line_peer.c: each byte N written
// to it orders N bytes, one every 200 ms.
class OrderingPeer final : public test::DribblingPeer {
 public:
  explicit OrderingPeer(SerialDevice& device) : device_(device) {}
  Millis PaceMs() const override { return 200; }
  void Dribble(int count) override {
    const auto order = static_cast<std::uint8_t>(count);
    IoResult write = device_.StartWrite(&order, 1);
    if (write.state == IoResult::State::kPending) write = device_.FinishWrite();
    ASSERT_EQ(write.count, 1u);
  }

 private:
  SerialDevice& device_;
};

// The port comes from MFU_TEST_PEER_PORT, which tools/wine/run-wine-tests.sh
// sets to a COM port it has put on that peer; without it the test is skipped
// rather than guessing at a port that might be a real one.
TEST(Win32SerialPort, LimitEndsAReadWhoseBytesKeepComing) {
  const char* port = std::getenv("MFU_TEST_PEER_PORT");
  if (port == nullptr || port[0] == '\0') GTEST_SKIP() << "no peer port (MFU_TEST_PEER_PORT)";
  SetTimeDivisor(1);
  SerialHandle device = PlatformSerialBackend().Open(port);
  ASSERT_TRUE(device);
  ASSERT_TRUE(device->ApplyWorkingTimeouts());
  ASSERT_TRUE(device->Purge());
  OrderingPeer peer(*device);
  test::ExpectReadEndsAtItsLimit(*device, peer);
}

TEST(Win32SerialBackend, MissingPortGivesNoDevice) {
  EXPECT_EQ(PlatformSerialBackend().Open("COM97"), nullptr);
  EXPECT_EQ(PlatformSerialBackend().Open(""), nullptr);
  EXPECT_EQ(PlatformSerialBackend().Open(nullptr), nullptr);
}

TEST(Win32SerialBackend, AMissingPortAndOneHeldUnsharedSayWhy) {
  OpenFailure failure;
  EXPECT_EQ(PlatformSerialBackend().OpenPort("COM97", failure), nullptr);
  EXPECT_EQ(failure.kind, OpenFailureKind::kMissing);
  // Another program's unshared open: here a file of our own, opened through
  // the same device-namespace path the backend builds.
  char folder[MAX_PATH];
  ASSERT_GT(::GetTempPathA(sizeof folder, folder), 0u);
  const std::string path = std::string(folder) + "mfu-held-port.tmp";
  HANDLE held = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(PlatformSerialBackend().OpenPort(path.c_str(), failure), nullptr);
  EXPECT_EQ(failure.kind, OpenFailureKind::kBusy) << failure.system_error;
  ::CloseHandle(held);
}

TEST(Win32Errors, MostCodesPassThrough) {
  EXPECT_EQ(MapWin32Error(ERROR_FILE_NOT_FOUND), kErrorFileNotFound);
  EXPECT_EQ(MapWin32Error(ERROR_PATH_NOT_FOUND), kErrorFileNotFound);
  EXPECT_EQ(MapWin32Error(ERROR_ACCESS_DENIED), kErrorAccessDenied);
  EXPECT_EQ(MapWin32Error(ERROR_OPERATION_ABORTED), kErrorOperationAborted);
  EXPECT_EQ(MapWin32Error(ERROR_NOT_FOUND), kErrorOperationAborted);
  EXPECT_EQ(MapWin32Error(ERROR_IO_INCOMPLETE), kErrorIoIncomplete);
  EXPECT_EQ(MapWin32Error(ERROR_IO_PENDING), kErrorIoPending);
  EXPECT_EQ(MapWin32Error(ERROR_DEVICE_NOT_CONNECTED), kErrorDeviceRemoved);
  EXPECT_EQ(MapWin32Error(ERROR_SHARING_VIOLATION), kErrorSharingViolation);
}

TEST(Win32Waits, ProgramMillisecondsFollowTheTimeSeam) {
  EXPECT_EQ(WaitMillis(kInfinite), INFINITE);
  SetTimeDivisor(50);
  EXPECT_EQ(WaitMillis(50000), 1000u);
  EXPECT_EQ(WaitMillis(1), 1u);  // never rounded down to no wait
  SetTimeDivisor(1);
  EXPECT_EQ(WaitMillis(250), 250u);
}

}  // namespace
}  // namespace mfu
