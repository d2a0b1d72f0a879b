// The sender allocates no memory per block: a session of 100 blocks makes as
// many heap allocations as one of 10. Counted by replacing the global
// operator new of this test program; the modem here answers from answers
// built beforehand, so that the count is the sender's alone.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "session/monitor.h"
#include "tests/session/scripted_modem.h"
#include "tests/session/session_fixture.h"
#include "zmodem/sender.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace mfu::test {
namespace {

// A modem that answers every frame from strings built before the session.
class QuietModem : public SerialDevice {
 public:
  QuietModem() {
    answers_[0] = "\r\nbereit\r\n";
    answers_[1] = HexHeader(ZRINIT);
    answers_[2] = HexHeader(ZRPOS);
    answers_[3] = HexHeader(ZACK, 0);
    answers_[4] = HexHeader(ZFIN);
    answers_[5] = "erfolgreich";
  }
  bool GetState(PortSettings&) override { return true; }
  bool SetState(const PortSettings&) override { return true; }
  bool ApplyWorkingState(const PortSettings&) override { return true; }
  bool GetTimeouts(PortSettings&) override { return true; }
  bool SetTimeouts(const PortSettings&) override { return true; }
  bool ApplyWorkingTimeouts() override { return true; }
  bool SetupQueues(std::uint32_t, std::uint32_t) override { return true; }
  bool SetDtr(bool) override { return true; }
  bool Purge() override { return true; }
  bool ClearErrors() override { return true; }
  bool GetModemStatus(std::uint32_t& bits, std::uint32_t&) override { return bits = kMsCtsOn | kMsDsrOn, true; }
  IoResult StartWrite(const std::uint8_t* w, std::uint32_t n) override {
    int answer = -1;
    if (n == 1 && w[0] == 'b') answer = 0;
    else if (n == 2 && w[0] == 'O') answer = 5;
    else if (n > 6 && w[0] == 0x2A && w[1] == 0x2A) answer = w[5] == '0' ? 1 : (w[5] == '8' ? 4 : -1);
    else if (n > 4 && w[0] == 0x2A && w[1] == 0x18) answer = w[3] == ZFILE ? 2 : (w[3] == ZEOF ? 1 : 3);
    if (answer >= 0) {
      std::lock_guard<std::mutex> guard(lock_);
      pending_ = &answers_[answer];
      changed_.notify_all();
    }
    return IoResult{IoResult::State::kCompleted, n, 0};
  }
  IoResult FinishWrite() override { return IoResult{}; }
  IoResult StartRead(std::uint8_t* buffer, std::uint32_t max) override {
    std::lock_guard<std::mutex> guard(lock_);
    buffer_ = buffer;
    max_ = max;
    count_ = 0;
    done_ = false;
    return IoResult{IoResult::State::kPending, 0, 0};
  }
  bool WaitRead(Millis limit) override {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait_for(guard, RealDuration(limit), [this] { return pending_ != nullptr || closed_; });
    if (pending_ == nullptr) return false;
    count_ = static_cast<std::uint32_t>(std::min<std::size_t>(max_, pending_->size()));
    std::memcpy(buffer_, pending_->data(), count_);
    pending_ = nullptr;
    done_ = true;
    return true;
  }
  IoResult ReadResult() override {
    std::lock_guard<std::mutex> guard(lock_);
    return done_ ? IoResult{IoResult::State::kCompleted, count_, 0} : IoResult{IoResult::State::kFailed, 0, kErrorIoIncomplete};
  }
  void Close() override {
    std::lock_guard<std::mutex> guard(lock_);
    closed_ = true;
    changed_.notify_all();
  }

 private:
  std::string answers_[6];
  std::mutex lock_;
  std::condition_variable changed_;
  const std::string* pending_ = nullptr;
  std::uint8_t* buffer_ = nullptr;
  std::uint32_t max_ = 0, count_ = 0;
  bool done_ = false, closed_ = false;
};

// Takes every window operation and keeps nothing (a growing log would
// allocate by itself).
class NullWindow : public Window {
 public:
  void AppendLog(const char*) override {}
  std::string LogText() override { return {}; }
  void EnableButton(int, bool) override {}
  void SetProgressRange(std::uint16_t) override {}
  void SetProgressStep(int) override {}
  void StepProgress() override { ++steps; }
  bool AskYesNo(const char*) override { return false; }
  void ShowNotice(const char*) override {}
  bool ChooseFile(FileDialogRequest&) override { return false; }
  std::atomic<int> steps{0};
};

class AllocationTest : public SessionFixture {
 protected:
  void SetUp() override {
    SessionFixture::SetUp();
    outlet_ = std::make_unique<RestingOutlet>(session());
    SetMainDialog(&null_window_);
  }
  NullWindow null_window_;
  std::unique_ptr<RestingOutlet> outlet_;

  long AllocationsOfASession(std::size_t image_size) {
    UseImageOfSize(image_size);
    auto modem = std::make_shared<QuietModem>();
    port().SetPortHandle(modem);
    monitor().UpdateSucceededEvent = MakeEvent(Event::Reset::kManual);
    monitor().UpdateFailedEvent = MakeEvent(Event::Reset::kManual);
    outlet_->outcome = Outcome::kNone;  // a new run: no outcome decided
    const long before = g_allocations.load();
    EXPECT_EQ(sender().StartSender(*outlet_), 1);
    EXPECT_TRUE(outlet_->rested.Wait(1000000));
    EXPECT_TRUE(monitor().UpdateSucceededEvent->IsSet());
    sender().StopSender();
    const long used = g_allocations.load() - before;
    port().SetPortHandle(nullptr);
    return used;
  }
};

TEST_F(AllocationTest, NoAllocationPerBlock) {
  AllocationsOfASession(10 * 512);  // first use of the statics
  const long ten_blocks = AllocationsOfASession(10 * 512);
  const long hundred_blocks = AllocationsOfASession(100 * 512);
  EXPECT_EQ(hundred_blocks, ten_blocks);
  EXPECT_GT(ten_blocks, 0);  // the thread and the events do allocate: the counter works
  EXPECT_EQ(null_window_.steps.load(), 10 + 10 + 100);
}

}  // namespace
}  // namespace mfu::test
