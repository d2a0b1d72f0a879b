// The whole update against the simulated modem at the real line rate, timed
// beside the protocol's own floor: every byte on the line at 57600 bit/s (10
// bit times a byte) both ways, the sender's pauses (100, 500, 500 ms), the
// 250 ms gap that ends every read whose answer is shorter than asked (the
// 20-byte ZACKs and ZFIN, the answers to "b" and "OO"), and the times the
// modem itself takes (flash time per block, answer latency, the final pause).
// Also prints the CPU time of the run, simulator included.
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "resources/resources.h"
#include "serial/comm_port.h"
#include "session/connection.h"
#include "session/monitor.h"
#include "session/session.h"
#include "simulator/simulated_modem.h"
#include "ui/window.h"
#include "zmodem/sender.h"

namespace {

using Clock = std::chrono::steady_clock;

struct LineCount {
  std::atomic<bool> counting{false};
  std::atomic<std::uint64_t> written{0}, read{0}, gap_reads{0}, reads{0};
  Clock::time_point start{};
};
LineCount g_line;

// Passes every call to the simulator's device and counts what crosses.
class CountingDevice final : public mfu::SerialDevice {
 public:
  explicit CountingDevice(mfu::SerialHandle inner) : inner_(std::move(inner)) {}
  bool GetState(mfu::PortSettings& s) override { return inner_->GetState(s); }
  bool SetState(const mfu::PortSettings& s) override { return inner_->SetState(s); }
  bool ApplyWorkingState(const mfu::PortSettings& s) override { return inner_->ApplyWorkingState(s); }
  bool GetTimeouts(mfu::PortSettings& t) override { return inner_->GetTimeouts(t); }
  bool SetTimeouts(const mfu::PortSettings& t) override { return inner_->SetTimeouts(t); }
  bool ApplyWorkingTimeouts() override { return inner_->ApplyWorkingTimeouts(); }
  bool SetupQueues(std::uint32_t i, std::uint32_t o) override { return inner_->SetupQueues(i, o); }
  bool SetDtr(bool on) override { return inner_->SetDtr(on); }
  bool Purge() override { return inner_->Purge(); }
  bool ClearErrors() override { return inner_->ClearErrors(); }
  bool GetModemStatus(std::uint32_t& b, std::uint32_t& e) override { return inner_->GetModemStatus(b, e); }
  mfu::IoResult StartWrite(const std::uint8_t* data, std::uint32_t count) override {
    if (count == 1 && data[0] == 'b' && !g_line.counting) {
      g_line.start = Clock::now();
      g_line.counting = true;
    }
    if (g_line.counting) g_line.written += count;
    return inner_->StartWrite(data, count);
  }
  mfu::IoResult FinishWrite() override { return inner_->FinishWrite(); }
  mfu::IoResult StartRead(std::uint8_t* buffer, std::uint32_t max) override {
    max_ = max;
    return inner_->StartRead(buffer, max);
  }
  bool WaitRead(mfu::Millis limit) override { return inner_->WaitRead(limit); }
  mfu::IoResult ReadResult() override {
    const mfu::IoResult result = inner_->ReadResult();
    if (g_line.counting && result.state == mfu::IoResult::State::kCompleted && result.count > 0) {
      g_line.read += result.count;
      ++g_line.reads;
      if (result.count < max_) ++g_line.gap_reads;
    }
    return result;
  }
  void Close() override { inner_->Close(); }

 private:
  mfu::SerialHandle inner_;
  std::uint32_t max_ = 0;
};

class CountingBackend final : public mfu::SerialBackend {
 public:
  explicit CountingBackend(mfu::SerialBackend& inner) : inner_(inner) {}
  mfu::SerialHandle Open(const char* name) override {
    mfu::SerialHandle device = inner_.Open(name);
    return device ? std::make_shared<CountingDevice>(device) : nullptr;
  }

 private:
  mfu::SerialBackend& inner_;
};

class QuietWindow final : public mfu::Window {
 public:
  void AppendLog(const char* text) override {
    std::lock_guard<std::mutex> guard(lock_);
    log_ += text;
  }
  std::string LogText() override {
    std::lock_guard<std::mutex> guard(lock_);
    return log_;
  }
  void EnableButton(int, bool) override {}
  void SetProgressRange(std::uint16_t) override {}
  void SetProgressStep(int) override {}
  void StepProgress() override {}
  bool AskYesNo(const char*) override { return true; }
  void ShowNotice(const char*) override {}
  bool ChooseFile(mfu::FileDialogRequest&) override { return false; }
  void SessionRests() override { rested.Set(); }
  mfu::Event rested{mfu::Event::Reset::kManual};

 private:
  std::mutex lock_;
  std::string log_;
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main() {
  mfu::SetResourceSource(&mfu::BuiltInResources());
  mfu::sim::ModemOptions options;
  options.real_line_rate = true;
  options.flash_ms_per_block = 20;
  mfu::sim::SimulatedModemBackend simulator(options);
  CountingBackend counting(simulator);
  mfu::SetSerialBackend(&counting);
  QuietWindow window;
  mfu::SetMainDialog(&window);

  const double cpu_before = CpuSeconds();
  mfu::Session session;
  session.SetupCommPort();
  if (!session.SessionMonitorExists()) {
    std::fprintf(stderr, "no modem\n");
    return 1;
  }
  session.SignalStartUpdate();
  window.rested.Wait(mfu::kInfinite);
  const Clock::time_point end = Clock::now();
  const bool succeeded = session.UpdateSucceeded();
  session.StopSessionMonitor();
  const double cpu = CpuSeconds() - cpu_before;
  mfu::SetMainDialog(nullptr);
  mfu::SetSerialBackend(nullptr);

  const double measured = std::chrono::duration<double>(end - g_line.start).count();
  const double line = static_cast<double>(g_line.written + g_line.read) * 10.0 / options.bit_rate;
  const double pauses = 0.1 + 0.5 + 0.5;
  const double gaps = static_cast<double>(g_line.gap_reads) * 0.25;
  const double modem = 728 * options.flash_ms_per_block / 1000.0 +
                       static_cast<double>(g_line.reads - 2) * options.header_latency_ms / 1000.0 +
                       options.final_pause_ms / 1000.0 + options.command_latency_ms / 1000.0;
  const double floor = line + pauses + gaps + modem;
  std::printf("update (from \"b\" to the final answer): %s\n", succeeded ? "succeeded" : "FAILED");
  std::printf("  bytes on the line      %llu sent, %llu received: %.2f s at %u bit/s\n",
              static_cast<unsigned long long>(g_line.written), static_cast<unsigned long long>(g_line.read), line,
              options.bit_rate);
  std::printf("  sender's pauses        %.2f s\n", pauses);
  std::printf("  250 ms read gaps       %llu reads: %.2f s\n", static_cast<unsigned long long>(g_line.gap_reads), gaps);
  std::printf("  modem's own time       %.2f s (flash %u ms/block, answer latency, final pause)\n", modem,
              options.flash_ms_per_block);
  std::printf("  floor                  %.2f s\n", floor);
  std::printf("  measured               %.2f s (%.2f %% above the floor)\n", measured, (measured / floor - 1) * 100);
  std::printf("  CPU time of the run    %.3f s (tool and simulator)\n", cpu);
  return succeeded ? 0 : 1;
}
