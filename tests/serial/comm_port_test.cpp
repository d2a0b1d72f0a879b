// The port operations' call order, results and diagnostics, over a device
// that records every call and answers as the test tells it.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "serial/comm_port.h"
#include "serial/serial_device.h"
#include "tests/support/diag_recorder.h"

namespace mfu {
namespace {

using Clock = std::chrono::steady_clock;
using Calls = std::vector<std::string>;

PortSettings Blob(const std::string& text) { return PortSettings{std::vector<std::uint8_t>(text.begin(), text.end())}; }
std::string Text(const PortSettings& blob) { return std::string(blob.bytes.begin(), blob.bytes.end()); }

class ScriptedDevice final : public SerialDevice {
 public:
  explicit ScriptedDevice(std::string name) : name_(std::move(name)) {}

  bool GetState(PortSettings& state) override {
    Log("GetState");
    state = Blob(name_ + "-state");
    return true;
  }
  bool SetState(const PortSettings& state) override {
    Log("SetState " + Text(state));
    return true;
  }
  bool ApplyWorkingState(const PortSettings& saved) override {
    Log("ApplyWorkingState " + Text(saved));
    return true;
  }
  bool GetTimeouts(PortSettings& timeouts) override {
    Log("GetTimeouts");
    timeouts = Blob(name_ + "-timeouts");
    return true;
  }
  bool SetTimeouts(const PortSettings& timeouts) override {
    Log("SetTimeouts " + Text(timeouts));
    return true;
  }
  bool ApplyWorkingTimeouts() override {
    Log("ApplyWorkingTimeouts");
    return true;
  }
  bool SetupQueues(std::uint32_t input, std::uint32_t output) override {
    Log("SetupQueues " + std::to_string(input) + " " + std::to_string(output));
    return false;  // a refusal changes nothing
  }
  bool SetDtr(bool on) override {
    Log(on ? "SETDTR" : "CLRDTR");
    if (on && dtr_dropped_at_ != Clock::time_point{}) dtr_low_ = Clock::now() - dtr_dropped_at_;
    if (!on) dtr_dropped_at_ = Clock::now();
    return true;
  }
  bool Purge() override {
    Log("Purge");
    return true;
  }
  bool ClearErrors() override {
    Log("ClearErrors");
    return true;
  }
  bool GetModemStatus(std::uint32_t& bits, std::uint32_t&) override {
    Log("GetModemStatus");
    bits = kMsCtsOn;
    return true;
  }
  IoResult StartWrite(const std::uint8_t*, std::uint32_t count) override {
    Log("StartWrite " + std::to_string(count));
    return start_write;
  }
  IoResult FinishWrite() override {
    Log("FinishWrite");
    return finish_write;
  }
  IoResult StartRead(std::uint8_t*, std::uint32_t max) override {
    Log("StartRead " + std::to_string(max));
    return start_read;
  }
  bool WaitRead(Millis limit) override {
    Log("WaitRead " + std::to_string(limit));
    return wait_read;
  }
  IoResult ReadResult() override {
    Log("ReadResult");
    return read_result;
  }
  void Close() override { Log("Close"); }

  Calls TakeCalls() {
    std::lock_guard<std::mutex> guard(lock_);
    Calls calls;
    calls.swap(calls_);
    return calls;
  }
  Clock::duration DtrLow() const { return dtr_low_; }

  IoResult start_write{IoResult::State::kCompleted, 0, 0};
  IoResult finish_write{IoResult::State::kCompleted, 0, 0};
  IoResult start_read{IoResult::State::kPending, 0, kErrorIoPending};
  bool wait_read = true;
  IoResult read_result{IoResult::State::kCompleted, 0, 0};

 private:
  void Log(const std::string& call) {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(call);
  }
  const std::string name_;
  std::mutex lock_;
  Calls calls_;
  Clock::time_point dtr_dropped_at_{};
  Clock::duration dtr_low_{};
};

class ScriptedBackend final : public SerialBackend {
 public:
  std::shared_ptr<ScriptedDevice> Add(const std::string& name) {
    auto device = std::make_shared<ScriptedDevice>(name);
    devices_[name] = device;
    return device;
  }
  SerialHandle Open(const char* port_name) override {
    auto it = devices_.find(port_name);
    return it == devices_.end() ? nullptr : it->second;
  }

 private:
  std::map<std::string, std::shared_ptr<ScriptedDevice>> devices_;
};

const Calls kOpenCalls = {"GetState",    "ApplyWorkingState A-state", "SETDTR", "SetupQueues 2048 2048",
                          "CLRDTR",      "SETDTR",                    "GetTimeouts", "ApplyWorkingTimeouts",
                          "Purge"};

class CommPortTest : public ::testing::Test {
 protected:
  CommPort comm_;
  void SetUp() override {
    SetSerialBackend(&backend_);
    SetTimeDivisor(10);
    a_ = backend_.Add("A");
    b_ = backend_.Add("B");
    comm_.ReadCompleteEvent = MakeEvent(Event::Reset::kManual);
    comm_.WriteCompleteEvent = MakeEvent(Event::Reset::kManual);
  }
  void TearDown() override {
    SetSerialBackend(nullptr);
    SetTimeDivisor(1);
    comm_.ReadCompleteEvent.reset();
    comm_.WriteCompleteEvent.reset();
  }
  void OpenA() {
    comm_.SetPortHandle(comm_.OpenCommPort("A"));
    ASSERT_TRUE(comm_.PortHandle());
    a_->TakeCalls();
  }
  bool Write(std::int32_t count) {
    static const std::uint8_t bytes[64] = {};
    return comm_.WriteToComm(bytes, count);
  }
  int Read() { return comm_.ReadFromComm(ModemResponseBuffer, 4096, 777); }

  ScriptedBackend backend_;
  std::shared_ptr<ScriptedDevice> a_;
  std::shared_ptr<ScriptedDevice> b_;
  test::DiagRecorder diags_;
};

TEST_F(CommPortTest, OpenConfiguresInOrderWithAHundredMillisecondDtrDrop) {
  SerialHandle port = comm_.OpenCommPort("A");
  ASSERT_EQ(port, a_);
  EXPECT_FALSE(comm_.PortHandle());  // the caller stores it
  EXPECT_EQ(a_->TakeCalls(), kOpenCalls);
  EXPECT_GE(a_->DtrLow(), std::chrono::milliseconds(10));  // 100 program ms
}

TEST_F(CommPortTest, AFailedOpenSavesNothing) {
  EXPECT_FALSE(comm_.OpenCommPort("missing"));
  comm_.SetPortHandle(comm_.OpenCommPort("A"));
  EXPECT_EQ(a_->TakeCalls(), kOpenCalls);
}

TEST_F(CommPortTest, CloseRestoresTimeoutsThenLineSettingsAndClosesOnce) {
  OpenA();
  comm_.CloseCommPort();
  EXPECT_EQ(a_->TakeCalls(), (Calls{"Purge", "SetTimeouts A-timeouts", "SetState A-state", "Close"}));
  EXPECT_FALSE(comm_.PortHandle());
  comm_.CloseCommPort();
  EXPECT_TRUE(a_->TakeCalls().empty());
}

TEST_F(CommPortTest, SecondOpenKeepsTheFirstSavedCopy) {
  SerialHandle first = comm_.OpenCommPort("A");
  comm_.SetPortHandle(comm_.OpenCommPort("B"));
  EXPECT_EQ(b_->TakeCalls(), (Calls{"ApplyWorkingState A-state", "SETDTR", "SetupQueues 2048 2048", "CLRDTR",
                                    "SETDTR", "ApplyWorkingTimeouts", "Purge"}));
  comm_.CloseCommPort();
  EXPECT_EQ(b_->TakeCalls(), (Calls{"Purge", "SetTimeouts A-timeouts", "SetState A-state", "Close"}));
  // The flags are clear: the next open saves again.
  comm_.SetPortHandle(comm_.OpenCommPort("B"));
  const Calls calls = b_->TakeCalls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0], "GetState");
  EXPECT_EQ(calls[1], "ApplyWorkingState B-state");
}

TEST_F(CommPortTest, WriteCompletingAtOnce) {
  OpenA();
  a_->start_write = {IoResult::State::kCompleted, 6, 0};
  EXPECT_TRUE(comm_.WriteToComm("ati4\r\n"));
  EXPECT_EQ(a_->TakeCalls(), (Calls{"ClearErrors", "StartWrite 6"}));
  EXPECT_TRUE(comm_.WriteCompleteEvent->IsSet());
  EXPECT_TRUE(diags_.Lines().empty());
}

TEST_F(CommPortTest, WriteCompletingShortAtOnce) {
  OpenA();
  a_->start_write = {IoResult::State::kCompleted, 3, 0};
  EXPECT_FALSE(Write(6));
  EXPECT_EQ(diags_.Lines(), (std::vector<std::string>{"Write timed out. (immediate)\n"}));
}

TEST_F(CommPortTest, WriteRefused) {
  OpenA();
  a_->start_write = {IoResult::State::kFailed, 0, kErrorGenFailure};
  EXPECT_FALSE(Write(6));
  EXPECT_EQ(a_->TakeCalls(), (Calls{"ClearErrors", "StartWrite 6"}));
  EXPECT_EQ(diags_.Lines(), (std::vector<std::string>{"WriteToComm() failed\n"}));
}

TEST_F(CommPortTest, PendingWriteThatFinishes) {
  OpenA();
  a_->start_write = {IoResult::State::kPending, 2, kErrorIoPending};
  a_->finish_write = {IoResult::State::kCompleted, 6, 0};
  comm_.WriteCompleteEvent->Set();
  EXPECT_TRUE(Write(6));
  EXPECT_EQ(a_->TakeCalls(), (Calls{"ClearErrors", "StartWrite 6", "FinishWrite"}));
  EXPECT_TRUE(diags_.Lines().empty());
}

TEST_F(CommPortTest, PendingWriteAbortedAfterAllWentOut) {
  OpenA();
  a_->start_write = {IoResult::State::kPending, 0, kErrorIoPending};
  a_->finish_write = {IoResult::State::kFailed, 6, kErrorOperationAborted};
  EXPECT_TRUE(Write(6));  // the count decides
  EXPECT_EQ(diags_.Lines(), (std::vector<std::string>{"Write aborted\n"}));
}

TEST_F(CommPortTest, PendingWriteAbortedShort) {
  OpenA();
  a_->start_write = {IoResult::State::kPending, 0, kErrorIoPending};
  a_->finish_write = {IoResult::State::kFailed, 2, kErrorOperationAborted};
  EXPECT_FALSE(Write(6));
  EXPECT_EQ(diags_.Lines(),
            (std::vector<std::string>{"Write aborted\n", "Error writing data to port (overlapped)\n"}));
}

TEST_F(CommPortTest, PendingWriteShortWithoutError) {
  OpenA();
  a_->start_write = {IoResult::State::kPending, 0, kErrorIoPending};
  a_->finish_write = {IoResult::State::kCompleted, 4, 0};
  EXPECT_FALSE(Write(6));
  EXPECT_EQ(diags_.Lines(), (std::vector<std::string>{"Write timed out. (overlapped)\n"}));
}

TEST_F(CommPortTest, PendingWriteShortWithAnError) {
  OpenA();
  a_->start_write = {IoResult::State::kPending, 0, kErrorIoPending};
  a_->finish_write = {IoResult::State::kFailed, 4, kErrorDeviceRemoved};
  EXPECT_FALSE(Write(6));
  EXPECT_EQ(diags_.Lines(), (std::vector<std::string>{"Error writing data to port (overlapped)\n"}));
}

TEST_F(CommPortTest, NegativeCountIsRefusedWithoutReachingTheDevice) {
  OpenA();
  EXPECT_FALSE(Write(-1));
  EXPECT_EQ(a_->TakeCalls(), (Calls{"ClearErrors"}));
  EXPECT_EQ(diags_.Lines(), (std::vector<std::string>{"WriteToComm() failed\n"}));
}

TEST_F(CommPortTest, ReadCompletingAtOnce) {
  OpenA();
  a_->start_read = {IoResult::State::kCompleted, 9, 0};
  EXPECT_EQ(Read(), 9);
  EXPECT_EQ(comm_.LastReadCount(), 9u);
  EXPECT_EQ(a_->TakeCalls(), (Calls{"ClearErrors", "StartRead 4096"}));
}

TEST_F(CommPortTest, ReadCompletingAfterTheWait) {
  OpenA();
  a_->read_result = {IoResult::State::kCompleted, 21, 0};
  EXPECT_EQ(Read(), 21);
  EXPECT_EQ(comm_.LastReadCount(), 21u);
  EXPECT_EQ(a_->TakeCalls(), (Calls{"ClearErrors", "StartRead 4096", "WaitRead 777", "ReadResult"}));
  EXPECT_TRUE(comm_.ReadCompleteEvent->IsSet());
  EXPECT_TRUE(diags_.Lines().empty());
}

TEST_F(CommPortTest, ReadFailureCarriesTheSystemsReasonUntilTheNextRead) {
  OpenA();
  IoResult broken{IoResult::State::kFailed, 0, kErrorDeviceRemoved};
  broken.system_error = 5;  // EIO, as the termios backend passes it on
  a_->read_result = broken;
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(comm_.LastReadFailure().error, kErrorDeviceRemoved);
  EXPECT_EQ(comm_.LastReadFailure().system_error, 5);
  EXPECT_FALSE(SystemErrorText(kErrorDeviceRemoved, 5).empty());
  // A read that times out did not fail; one that delivers neither.
  a_->wait_read = false;
  EXPECT_EQ(Read(), -1);
  EXPECT_EQ(comm_.LastReadFailure().error, kErrorSuccess);
  a_->start_read = {IoResult::State::kCompleted, 3, 0};
  EXPECT_EQ(Read(), 3);
  EXPECT_EQ(comm_.LastReadFailure().error, kErrorSuccess);
}

TEST_F(CommPortTest, TimedOutReadIsCollectedByArmingTheRecordAgain) {
  OpenA();
  a_->wait_read = false;
  ASSERT_EQ(Read(), -1);
  (void)a_->TakeCalls();
  // The pending read had taken 7 bytes: arming again hands them over at once.
  a_->start_read = {IoResult::State::kCompleted, 7, 0};
  std::uint8_t buffer[16];
  EXPECT_EQ(comm_.CollectTimedOutRead(buffer, sizeof buffer), 7u);
  EXPECT_EQ(comm_.LastReadCount(), 7u);
  EXPECT_TRUE(comm_.ReadCompleteEvent->IsSet());
  EXPECT_EQ(a_->TakeCalls(), (Calls{"StartRead 16"}));
  // It had none: nothing, and the read stays armed.
  a_->start_read = {IoResult::State::kPending, 0, kErrorIoPending};
  EXPECT_EQ(comm_.CollectTimedOutRead(buffer, sizeof buffer), 0u);
}

TEST_F(CommPortTest, ReadTimingOutStaysPendingAndClearsTheCount) {
  OpenA();
  // A count left from an earlier answer.
  a_->start_read = {IoResult::State::kCompleted, 99, 0};
  ASSERT_EQ(Read(), 99);
  a_->start_read = {IoResult::State::kPending, 0, kErrorIoPending};
  (void)a_->TakeCalls();
  ASSERT_TRUE(comm_.ReadCompleteEvent->IsSet());
  a_->wait_read = false;
  EXPECT_EQ(Read(), -1);
  EXPECT_EQ(comm_.LastReadCount(), 0u);
  EXPECT_FALSE(comm_.ReadCompleteEvent->IsSet());
  EXPECT_EQ(a_->TakeCalls(), (Calls{"ClearErrors", "StartRead 4096", "WaitRead 777"}));
  EXPECT_EQ(diags_.Lines(), (std::vector<std::string>{"READ TIMEOUT\n"}));

  // The completion check later takes the late burst.
  a_->read_result = {IoResult::State::kCompleted, 5, 0};
  std::uint32_t error = 1234;
  EXPECT_TRUE(comm_.GetOverlappedReadResult(error));
  EXPECT_EQ(comm_.LastReadCount(), 5u);
}

TEST_F(CommPortTest, ReadWhoseResultFails) {
  OpenA();
  a_->read_result = {IoResult::State::kFailed, 0, kErrorOperationAborted};
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(diags_.Lines(), (std::vector<std::string>{"GOT ERROR FROM READ FN\n"}));
  std::uint32_t error = 0;
  EXPECT_FALSE(comm_.GetOverlappedReadResult(error));
  EXPECT_EQ(error, kErrorOperationAborted);
}

TEST_F(CommPortTest, ReadRefused) {
  OpenA();
  a_->start_read = {IoResult::State::kFailed, 0, kErrorAccessDenied};
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(diags_.Lines(), (std::vector<std::string>{"ReadFile() failed (5)\n"}));
}

TEST_F(CommPortTest, ResetReadRecordClearsTheCount) {
  OpenA();
  a_->start_read = {IoResult::State::kCompleted, 12, 0};
  ASSERT_EQ(Read(), 12);
  comm_.ResetReadRecord();
  EXPECT_EQ(comm_.LastReadCount(), 0u);
}

}  // namespace
}  // namespace mfu
