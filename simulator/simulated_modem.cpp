#include "simulator/simulated_modem.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "resources/resources.h"

namespace mfu::sim {

using Clock = std::chrono::steady_clock;

Bytes BuiltInImage() {
  FirmwareImage image;
  if (BuiltInResources().FindFirmwareImage(image) != FirmwareLookup::kFound || image.data == nullptr) return {};
  return Bytes(image.data, image.data + image.size);
}

namespace {

constexpr Micros kReadGapUs = 250'000;  // the working read interval, 250 program ms

PortSettings Blob(const char* text) {
  PortSettings s;
  s.bytes.assign(text, text + std::strlen(text));
  return s;
}

}  // namespace

struct SimulatedModemBackend::Shared {
  explicit Shared(ModemOptions options) : model(std::move(options)), epoch(Clock::now()) {}

  mutable std::mutex mutex;
  std::condition_variable cv;
  ModemModel model;
  Clock::time_point epoch;
  std::shared_ptr<std::vector<std::string>> log;

  struct OutByte {
    std::uint8_t byte;
    Micros ready;
  };
  std::deque<OutByte> out;       // the modem's bytes, with the time each is in the driver
  std::vector<Action> events;    // status changes and hang-ups still to come
  bool cts = true;
  bool dsr = true;
  bool status_fails = false;
  bool hung_up = false;
  int sessions_ended = 0;
  bool open = false;
  int open_count = 0;
  std::uint64_t hangup_gen = 0;
  PortSettings line_state = InitialLineState();
  PortSettings timeouts = InitialTimeouts();
  bool dtr = false;

  // Program time now, from the real time since the epoch.
  Micros NowUs() const {
    const double ns_per_us = static_cast<double>(RealDuration(1000).count()) / 1e6;
    const auto real = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - epoch).count();
    return static_cast<Micros>(static_cast<double>(real) / ns_per_us);
  }
  Clock::time_point RealAt(Micros us) const {
    const double ns_per_us = static_cast<double>(RealDuration(1000).count()) / 1e6;
    return epoch + std::chrono::nanoseconds(static_cast<std::int64_t>(static_cast<double>(us) * ns_per_us));
  }

  // Moves the model's new actions into the queues.
  void Collect() {
    for (Action& a : model.TakeActions()) {
      if (a.kind == Action::Kind::kSend) {
        const Micros step = model.ByteMicros();
        for (std::size_t i = 0; i < a.bytes.size(); ++i) {
          out.push_back({a.bytes[i], a.at + static_cast<Micros>(i + 1) * step});
        }
      } else {
        events.push_back(std::move(a));
      }
    }
    std::stable_sort(events.begin(), events.end(), [](const Action& x, const Action& y) { return x.at < y.at; });
    cv.notify_all();
  }

  // Applies the status changes whose time has come.
  void Advance(Micros now) {
    Collect();
    std::size_t n = 0;
    for (; n < events.size() && events[n].at <= now; ++n) {
      const Action& a = events[n];
      switch (a.kind) {
        case Action::Kind::kLines: cts = a.cts; dsr = a.dsr; break;
        case Action::Kind::kStatusFails: status_fails = true; break;
        case Action::Kind::kHangUp:
          hung_up = true;
          out.clear();
          ++hangup_gen;
          break;
        case Action::Kind::kSessionEnd: ++sessions_ended; break;
        default: break;
      }
    }
    if (n > 0) {
      events.erase(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(n));
      cv.notify_all();
    }
  }

  std::size_t Available(Micros now) const {
    std::size_t n = 0;
    while (n < out.size() && out[n].ready <= now) ++n;
    return n;
  }

  // The earliest program time after `now` at which something may change.
  Micros NextChange(Micros now) const {
    Micros next = INT64_MAX;
    for (const OutByte& b : out)
      if (b.ready > now) { next = b.ready; break; }
    if (!events.empty()) next = std::min(next, events.front().at);
    return next;
  }
};

PortSettings SimulatedModemBackend::InitialLineState() { return Blob("sim-line 9600 7E1 xon/xoff dtr-off"); }
PortSettings SimulatedModemBackend::InitialTimeouts() { return Blob("sim-timeouts interval=0 total=1000"); }

namespace {

class SimulatedDevice final : public SerialDevice {
 public:
  explicit SimulatedDevice(std::shared_ptr<SimulatedModemBackend::Shared> shared)
      : s_(std::move(shared)), hangup_gen_(s_->hangup_gen) {}
  ~SimulatedDevice() override { Close(); }

  bool GetState(PortSettings& state) override {
    std::lock_guard lock(s_->mutex);
    if (!Usable()) return false;
    state = s_->line_state;
    return true;
  }
  bool SetState(const PortSettings& state) override {
    std::lock_guard lock(s_->mutex);
    if (!Usable() || state.bytes.empty()) return false;
    s_->line_state = state;
    return true;
  }
  bool ApplyWorkingState(const PortSettings& saved) override {
    std::lock_guard lock(s_->mutex);
    if (!Usable() || saved.bytes.empty()) return false;
    s_->line_state = Blob("sim-line 57600 8N1 binary rts-handshake dtr-enable");
    return true;
  }
  bool GetTimeouts(PortSettings& timeouts) override {
    std::lock_guard lock(s_->mutex);
    if (!Usable()) return false;
    timeouts = s_->timeouts;
    return true;
  }
  bool SetTimeouts(const PortSettings& timeouts) override {
    std::lock_guard lock(s_->mutex);
    if (!Usable() || timeouts.bytes.empty()) return false;
    s_->timeouts = timeouts;
    return true;
  }
  bool ApplyWorkingTimeouts() override {
    std::lock_guard lock(s_->mutex);
    if (!Usable()) return false;
    s_->timeouts = Blob("sim-timeouts interval=250 total=0");
    return true;
  }
  bool SetupQueues(std::uint32_t, std::uint32_t) override {
    std::lock_guard lock(s_->mutex);
    return Usable();
  }
  bool SetDtr(bool on) override {
    std::lock_guard lock(s_->mutex);
    if (!Usable()) return false;
    s_->dtr = on;
    return true;
  }
  bool Purge() override {
    std::lock_guard lock(s_->mutex);
    if (!Usable()) return false;
    const Micros now = s_->NowUs();
    s_->Advance(now);
    // Drops what the driver holds: the bytes already in; the modem's later
    // bytes are still on their way.
    s_->out.erase(s_->out.begin(), s_->out.begin() + static_cast<std::ptrdiff_t>(s_->Available(now)));
    ++purge_gen_;
    if (read_armed_ && !read_done_) FinishRead(IoResult{IoResult::State::kFailed, 0, kErrorOperationAborted});
    s_->cv.notify_all();
    return true;
  }
  bool ClearErrors() override {
    std::lock_guard lock(s_->mutex);
    return Usable();
  }
  bool GetModemStatus(std::uint32_t& bits, std::uint32_t& error) override {
    std::lock_guard lock(s_->mutex);
    s_->Advance(s_->NowUs());
    if (closed_) { error = kErrorInvalidHandle; return false; }
    if (Unplugged()) { error = kErrorDeviceRemoved; return false; }
    if (s_->status_fails) { error = kErrorGenFailure; return false; }
    bits = (s_->cts ? kMsCtsOn : 0u) | (s_->dsr ? kMsDsrOn : 0u);
    return true;
  }

  IoResult StartWrite(const std::uint8_t* data, std::uint32_t count) override {
    std::lock_guard lock(s_->mutex);
    const Micros now = s_->NowUs();
    s_->Advance(now);
    if (const auto fail = Refused()) return *fail;
    const Micros arrived = s_->model.Receive(data, count, now);
    s_->Collect();
    if (arrived <= now || count == 0) return IoResult{IoResult::State::kCompleted, count, 0};
    write_pending_ = true;
    write_start_ = now;
    write_end_ = arrived;
    write_count_ = count;
    write_gen_ = purge_gen_;
    return IoResult{IoResult::State::kPending, 0, 0};
  }

  IoResult FinishWrite() override {
    std::unique_lock lock(s_->mutex);
    if (closed_) return IoResult{IoResult::State::kFailed, 0, kErrorInvalidHandle};
    if (!write_pending_) return IoResult{IoResult::State::kCompleted, 0, 0};
    for (;;) {
      const Micros now = s_->NowUs();
      s_->Advance(now);
      const auto so_far = [&] {
        const double part = static_cast<double>(now - write_start_) / static_cast<double>(write_end_ - write_start_);
        return static_cast<std::uint32_t>(std::clamp(part, 0.0, 1.0) * write_count_);
      };
      if (closed_ || purge_gen_ != write_gen_) {
        write_pending_ = false;
        return IoResult{IoResult::State::kFailed, so_far(), kErrorOperationAborted};
      }
      if (Unplugged()) {
        write_pending_ = false;
        return IoResult{IoResult::State::kFailed, so_far(), kErrorDeviceRemoved};
      }
      if (now >= write_end_) {
        write_pending_ = false;
        return IoResult{IoResult::State::kCompleted, write_count_, 0};
      }
      s_->cv.wait_until(lock, s_->RealAt(std::min(write_end_, s_->NextChange(now))));
    }
  }

  IoResult StartRead(std::uint8_t* buffer, std::uint32_t max) override {
    std::lock_guard lock(s_->mutex);
    const Micros now = s_->NowUs();
    s_->Advance(now);
    if (const auto fail = Refused()) return *fail;
    // A still pending earlier read ends here. The bytes that had come for it
    // by its limit it has taken, as a driver copies them into the reader's
    // buffer: they are this read's result at once. Later bytes stay for it.
    const std::size_t taken = read_armed_ && !read_done_ && read_gen_ == purge_gen_
                                  ? std::min<std::size_t>(taken_at_limit_, s_->Available(now))
                                  : 0;
    taken_at_limit_ = 0;
    read_armed_ = true;
    read_done_ = false;
    read_buffer_ = buffer;
    read_max_ = max;
    read_gen_ = purge_gen_;
    if (taken > 0) {
      const std::size_t n = std::min<std::size_t>(taken, max);
      for (std::size_t i = 0; i < n; ++i) buffer[i] = s_->out[i].byte;
      s_->out.erase(s_->out.begin(), s_->out.begin() + static_cast<std::ptrdiff_t>(n));
      FinishRead(IoResult{IoResult::State::kCompleted, static_cast<std::uint32_t>(n), 0});
      return read_result_;
    }
    if (TryComplete(now)) return read_result_;
    return IoResult{IoResult::State::kPending, 0, 0};
  }

  bool WaitRead(Millis limit) override {
    std::unique_lock lock(s_->mutex);
    const Micros start = s_->NowUs();
    const Micros deadline = limit == kInfinite ? INT64_MAX : start + static_cast<Micros>(limit) * 1000;
    for (;;) {
      const Micros now = s_->NowUs();
      s_->Advance(now);
      if (closed_ || !read_armed_ || read_done_) return true;
      if (Unplugged()) {
        FinishRead(IoResult{IoResult::State::kFailed, 0, kErrorDeviceRemoved});
        return true;
      }
      if (TryComplete(now)) return true;
      // The limit bounds the whole read: one whose burst is still coming
      // stays pending, its bytes still on the line for it.
      if (now >= deadline) {
        taken_at_limit_ = s_->Available(now);
        return false;
      }
      Micros wake = std::min(s_->NextChange(now), deadline);
      if (s_->Available(now) > 0) wake = std::min(wake, LastAvailableReady(now) + kReadGapUs);
      if (wake == INT64_MAX) s_->cv.wait(lock);
      else s_->cv.wait_until(lock, s_->RealAt(wake));
    }
  }

  IoResult ReadResult() override {
    std::unique_lock lock(s_->mutex);
    if (closed_) return IoResult{IoResult::State::kFailed, 0, kErrorInvalidHandle};
    if (!read_armed_) return IoResult{IoResult::State::kCompleted, 0, 0};
    for (;;) {
      const Micros now = s_->NowUs();
      s_->Advance(now);
      if (read_done_) return read_result_;
      if (Unplugged()) {
        FinishRead(IoResult{IoResult::State::kFailed, 0, kErrorDeviceRemoved});
        return read_result_;
      }
      if (TryComplete(now)) return read_result_;
      if (s_->Available(now) == 0) return IoResult{IoResult::State::kFailed, 0, kErrorIoIncomplete};
      // The burst has begun: take it whole.
      const Micros wake = std::min(s_->NextChange(now), LastAvailableReady(now) + kReadGapUs);
      s_->cv.wait_until(lock, s_->RealAt(wake));
      if (closed_) return IoResult{IoResult::State::kFailed, 0, kErrorInvalidHandle};
    }
  }

  void Close() override {
    std::lock_guard lock(s_->mutex);
    if (closed_) return;
    closed_ = true;
    s_->open = false;
    s_->cv.notify_all();
  }

 private:
  bool Unplugged() const { return s_->hung_up || s_->hangup_gen != hangup_gen_; }
  bool Usable() const { return !closed_ && !Unplugged(); }
  std::optional<IoResult> Refused() const {
    if (closed_) return IoResult{IoResult::State::kFailed, 0, kErrorInvalidHandle};
    if (Unplugged()) return IoResult{IoResult::State::kFailed, 0, kErrorDeviceRemoved};
    return std::nullopt;
  }

  Micros LastAvailableReady(Micros now) const {
    const std::size_t n = s_->Available(now);
    return n == 0 ? now : s_->out[n - 1].ready;
  }

  void FinishRead(IoResult result) {
    read_done_ = true;
    read_result_ = result;
    s_->cv.notify_all();
  }

  // Completes the armed read when its count is in or the 250 ms gap after
  // the last byte has passed.
  bool TryComplete(Micros now) {
    if (read_done_) return true;
    if (purge_gen_ != read_gen_) {
      FinishRead(IoResult{IoResult::State::kFailed, 0, kErrorOperationAborted});
      return true;
    }
    const std::size_t available = s_->Available(now);
    if (available == 0) return false;
    if (available < read_max_ && now < LastAvailableReady(now) + kReadGapUs) return false;
    const std::size_t n = std::min<std::size_t>(available, read_max_);
    for (std::size_t i = 0; i < n; ++i) read_buffer_[i] = s_->out[i].byte;
    s_->out.erase(s_->out.begin(), s_->out.begin() + static_cast<std::ptrdiff_t>(n));
    FinishRead(IoResult{IoResult::State::kCompleted, static_cast<std::uint32_t>(n), 0});
    return true;
  }

  std::shared_ptr<SimulatedModemBackend::Shared> s_;
  std::uint64_t hangup_gen_;
  bool closed_ = false;
  std::uint64_t purge_gen_ = 0;
  bool read_armed_ = false;
  bool read_done_ = false;
  std::size_t taken_at_limit_ = 0;  // bytes in when the armed read's limit passed
  std::uint8_t* read_buffer_ = nullptr;
  std::uint32_t read_max_ = 0;
  std::uint64_t read_gen_ = 0;
  IoResult read_result_;
  bool write_pending_ = false;
  Micros write_start_ = 0;
  Micros write_end_ = 0;
  std::uint32_t write_count_ = 0;
  std::uint64_t write_gen_ = 0;
};

}  // namespace

SimulatedModemBackend::SimulatedModemBackend(ModemOptions options) {
  auto log = std::make_shared<std::vector<std::string>>();
  if (!options.expected_image) options.expected_image = BuiltInImage();
  options.external_receiver = false;
  // The model only runs under the backend's lock, so the log needs none.
  options.log = [log, user = std::move(options.log)](const std::string& line) {
    log->push_back(line);
    if (user) user(line);
  };
  shared_ = std::make_shared<Shared>(std::move(options));
  shared_->log = log;
  std::lock_guard lock(shared_->mutex);
  shared_->cts = shared_->model.options().cts;
  shared_->dsr = shared_->model.options().dsr;
  shared_->Advance(0);
}

SimulatedModemBackend::~SimulatedModemBackend() = default;

SerialHandle SimulatedModemBackend::Open(const char* port_name) {
  OpenFailure failure;
  return OpenPort(port_name, failure);
}

SerialHandle SimulatedModemBackend::OpenPort(const char* port_name, OpenFailure& failure) {
  failure = OpenFailure{OpenFailureKind::kMissing, kErrorFileNotFound, 0};
  if (port_name == nullptr) return nullptr;
  std::lock_guard lock(shared_->mutex);
  shared_->Advance(shared_->NowUs());
  const auto& names = shared_->model.options().port_names;
  if (std::find(names.begin(), names.end(), std::string(port_name)) == names.end()) return nullptr;
  if (shared_->hung_up) return nullptr;
  if (shared_->open) {
    failure = OpenFailure{OpenFailureKind::kBusy, kErrorAccessDenied, 0};
    return nullptr;
  }
  failure = OpenFailure{};
  // Bytes the modem sent while no one had the port open are lost.
  shared_->out.erase(shared_->out.begin(),
                     shared_->out.begin() + static_cast<std::ptrdiff_t>(shared_->Available(shared_->NowUs())));
  shared_->open = true;
  ++shared_->open_count;
  return std::make_shared<SimulatedDevice>(shared_);
}

#define MFU_SIM_LOCKED(expr)               \
  std::lock_guard lock(shared_->mutex);    \
  shared_->Advance(shared_->NowUs());      \
  return expr

Bytes SimulatedModemBackend::ReceivedImage() const { MFU_SIM_LOCKED(shared_->model.observations().image); }
std::optional<bool> SimulatedModemBackend::ImageMatched() const {
  MFU_SIM_LOCKED(shared_->model.observations().image_matched);
}
std::vector<FrameRecord> SimulatedModemBackend::Frames() const { MFU_SIM_LOCKED(shared_->model.observations().frames); }
int SimulatedModemBackend::AbortCount() const { MFU_SIM_LOCKED(shared_->model.observations().aborts); }
bool SimulatedModemBackend::ExitByteReceived() const { MFU_SIM_LOCKED(shared_->model.observations().exit_byte); }
Bytes SimulatedModemBackend::RawReceived() const { MFU_SIM_LOCKED(shared_->model.observations().raw_received); }
std::vector<std::string> SimulatedModemBackend::Errors() const { MFU_SIM_LOCKED(shared_->model.observations().errors); }
int SimulatedModemBackend::FinalAnswers() const { MFU_SIM_LOCKED(shared_->model.observations().final_answers); }
int SimulatedModemBackend::SessionsEnded() const { MFU_SIM_LOCKED(shared_->sessions_ended); }
std::vector<std::string> SimulatedModemBackend::LogLines() const { MFU_SIM_LOCKED(*shared_->log); }
Observations SimulatedModemBackend::Snapshot() const { MFU_SIM_LOCKED(shared_->model.observations()); }
bool SimulatedModemBackend::IsOpen() const { MFU_SIM_LOCKED(shared_->open); }
int SimulatedModemBackend::OpenCount() const { MFU_SIM_LOCKED(shared_->open_count); }
PortSettings SimulatedModemBackend::LineState() const { MFU_SIM_LOCKED(shared_->line_state); }
PortSettings SimulatedModemBackend::TimeoutState() const { MFU_SIM_LOCKED(shared_->timeouts); }
bool SimulatedModemBackend::Dtr() const { MFU_SIM_LOCKED(shared_->dtr); }

#undef MFU_SIM_LOCKED

void SimulatedModemBackend::SetLines(bool cts, bool dsr) {
  std::lock_guard lock(shared_->mutex);
  shared_->Advance(shared_->NowUs());
  shared_->cts = cts;
  shared_->dsr = dsr;
}

void SimulatedModemBackend::SetStatusQueryFails(bool fails) {
  std::lock_guard lock(shared_->mutex);
  shared_->Advance(shared_->NowUs());
  shared_->status_fails = fails;
}

void SimulatedModemBackend::HangUp() {
  std::lock_guard lock(shared_->mutex);
  const Micros now = shared_->NowUs();
  shared_->model.HangUp(now);
  shared_->Advance(now);
}

std::unique_ptr<SimulatedModemBackend> MakeDefaultSimulator(bool real_line_rate) {
  ModemOptions options;
  options.real_line_rate = real_line_rate;
  options.flash_ms_per_block = real_line_rate ? 20 : 0;
  if (!real_line_rate) {
    options.command_latency_ms = 5;
    options.final_pause_ms = 200;
  }
  return std::make_unique<SimulatedModemBackend>(std::move(options));
}

}  // namespace mfu::sim
