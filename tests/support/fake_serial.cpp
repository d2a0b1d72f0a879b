#include "tests/support/fake_serial.h"

#include <algorithm>
#include <cstring>

namespace mfu::test {
namespace {
PortSettings Blob(const std::string& text) { return PortSettings{std::vector<std::uint8_t>(text.begin(), text.end())}; }
std::string Text(const PortSettings& blob) { return std::string(blob.bytes.begin(), blob.bytes.end()); }
}  // namespace

bool FakeSerialDevice::GetState(PortSettings& state) {
  std::lock_guard<std::mutex> guard(lock_);
  state = Blob(state_);
  return !closed_;
}

bool FakeSerialDevice::SetState(const PortSettings& state) {
  std::lock_guard<std::mutex> guard(lock_);
  state_ = Text(state);
  return !closed_;
}

bool FakeSerialDevice::ApplyWorkingState(const PortSettings& saved) {
  std::lock_guard<std::mutex> guard(lock_);
  state_ = "working(" + Text(saved) + ")";
  return !closed_;
}

bool FakeSerialDevice::GetTimeouts(PortSettings& timeouts) {
  std::lock_guard<std::mutex> guard(lock_);
  timeouts = Blob(timeouts_);
  return !closed_;
}

bool FakeSerialDevice::SetTimeouts(const PortSettings& timeouts) {
  std::lock_guard<std::mutex> guard(lock_);
  timeouts_ = Text(timeouts);
  return !closed_;
}

bool FakeSerialDevice::ApplyWorkingTimeouts() {
  std::lock_guard<std::mutex> guard(lock_);
  timeouts_ = "interval-250";
  return !closed_;
}

bool FakeSerialDevice::SetDtr(bool) { return true; }

bool FakeSerialDevice::Purge() {
  std::lock_guard<std::mutex> guard(lock_);
  answers_.clear();
  // As PurgeComm does: a read still waiting ends, aborted.
  if (read_armed_ && !read_done_) {
    read_done_ = true;
    read_count_ = 0;
    read_error_ = kErrorOperationAborted;
  }
  changed_.notify_all();
  return !closed_;
}

bool FakeSerialDevice::GetModemStatus(std::uint32_t& bits, std::uint32_t& error) {
  std::lock_guard<std::mutex> guard(lock_);
  if (closed_) {
    error = kErrorInvalidHandle;
    return false;
  }
  if (status_fails_) {
    error = kErrorGenFailure;
    return false;
  }
  bits = status_bits_;
  return true;
}

IoResult FakeSerialDevice::StartWrite(const std::uint8_t* data, std::uint32_t count) {
  Bytes bytes(data, data + count);
  std::function<void(const Bytes&)> responder;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (closed_) return IoResult{IoResult::State::kFailed, 0, kErrorInvalidHandle};
    writes_.push_back(bytes);
    responder = responder_;
  }
  if (responder) responder(bytes);
  return IoResult{IoResult::State::kCompleted, count, 0};
}

IoResult FakeSerialDevice::FinishWrite() { return IoResult{IoResult::State::kFailed, 0, kErrorInvalidParameter}; }

bool FakeSerialDevice::TakeBurstLocked() {
  if (answers_.empty()) return false;
  Bytes& burst = answers_.front();
  const std::uint32_t n = std::min<std::uint32_t>(read_max_, static_cast<std::uint32_t>(burst.size()));
  std::memcpy(read_buffer_, burst.data(), n);
  burst.erase(burst.begin(), burst.begin() + n);
  if (burst.empty()) answers_.pop_front();
  read_count_ = n;
  read_done_ = true;
  return true;
}

IoResult FakeSerialDevice::StartRead(std::uint8_t* buffer, std::uint32_t max) {
  std::lock_guard<std::mutex> guard(lock_);
  if (closed_) return IoResult{IoResult::State::kFailed, 0, kErrorInvalidHandle};
  read_buffer_ = buffer;
  read_max_ = max;
  read_armed_ = true;
  read_done_ = false;
  read_count_ = 0;
  read_error_ = 0;
  return IoResult{IoResult::State::kPending, 0, 0};
}

bool FakeSerialDevice::WaitRead(Millis limit) {
  std::unique_lock<std::mutex> guard(lock_);
  const auto deadline = DeadlineAfter(limit);
  for (;;) {
    if (read_done_ || closed_) return true;
    if (read_armed_ && TakeBurstLocked()) return true;
    if (changed_.wait_until(guard, deadline) == std::cv_status::timeout) {
      return read_armed_ && TakeBurstLocked();
    }
  }
}

IoResult FakeSerialDevice::ReadResult() {
  std::lock_guard<std::mutex> guard(lock_);
  if (closed_) return IoResult{IoResult::State::kFailed, 0, kErrorOperationAborted};
  if (!read_armed_) return IoResult{IoResult::State::kCompleted, 0, 0};
  if (!read_done_ && !TakeBurstLocked()) return IoResult{IoResult::State::kFailed, 0, kErrorIoIncomplete};
  if (read_error_ != 0) return IoResult{IoResult::State::kFailed, 0, read_error_};
  return IoResult{IoResult::State::kCompleted, read_count_, 0};
}

void FakeSerialDevice::Close() {
  std::lock_guard<std::mutex> guard(lock_);
  closed_ = true;
  changed_.notify_all();
}

void FakeSerialDevice::QueueAnswer(const Bytes& burst) {
  std::lock_guard<std::mutex> guard(lock_);
  answers_.push_back(burst);
  changed_.notify_all();
}

void FakeSerialDevice::QueueAnswer(const std::string& burst) { QueueAnswer(Bytes(burst.begin(), burst.end())); }

void FakeSerialDevice::SetResponder(std::function<void(const Bytes&)> responder) {
  std::lock_guard<std::mutex> guard(lock_);
  responder_ = std::move(responder);
}

void FakeSerialDevice::SetModemStatus(std::uint32_t bits, bool fails) {
  std::lock_guard<std::mutex> guard(lock_);
  status_bits_ = bits;
  status_fails_ = fails;
}

FakeSerialDevice::Bytes FakeSerialDevice::Written() const {
  std::lock_guard<std::mutex> guard(lock_);
  Bytes all;
  for (const Bytes& w : writes_) all.insert(all.end(), w.begin(), w.end());
  return all;
}

std::vector<FakeSerialDevice::Bytes> FakeSerialDevice::Writes() const {
  std::lock_guard<std::mutex> guard(lock_);
  return writes_;
}

bool FakeSerialDevice::Closed() const {
  std::lock_guard<std::mutex> guard(lock_);
  return closed_;
}

void FakeSerialDevice::Reopen() {
  std::lock_guard<std::mutex> guard(lock_);
  closed_ = false;
  read_armed_ = false;
  read_done_ = false;
}

std::string FakeSerialDevice::State() const {
  std::lock_guard<std::mutex> guard(lock_);
  return state_;
}

std::shared_ptr<FakeSerialDevice> FakeSerialBackend::Add(const std::string& name) {
  std::lock_guard<std::mutex> guard(lock_);
  auto device = std::make_shared<FakeSerialDevice>();
  devices_[name] = device;
  return device;
}

SerialHandle FakeSerialBackend::Open(const char* port_name) {
  OpenFailure failure;
  return OpenPort(port_name, failure);
}

SerialHandle FakeSerialBackend::OpenPort(const char* port_name, OpenFailure& failure) {
  std::lock_guard<std::mutex> guard(lock_);
  failure = OpenFailure{};
  opened_.emplace_back(port_name);
  if (auto failing = failures_.find(port_name); failing != failures_.end()) {
    failure.kind = failing->second;
    return nullptr;
  }
  auto it = devices_.find(port_name);
  if (it == devices_.end()) {
    failure.kind = OpenFailureKind::kMissing;
    failure.error = kErrorFileNotFound;
    return nullptr;
  }
  it->second->Reopen();
  return it->second;
}

std::vector<PortEntry> FakeSerialBackend::ListPorts() {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<PortEntry> ports;
  for (const std::string& path : listed_) ports.push_back(PortEntry{path, "", "fake", "", "", "", ""});
  return ports;
}

std::vector<PortHolder> FakeSerialBackend::OtherHolders(const char* port_name) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = holders_.find(port_name);
  return it != holders_.end() ? it->second : std::vector<PortHolder>{};
}

bool FakeSerialBackend::ModemManagerRuns() {
  std::lock_guard<std::mutex> guard(lock_);
  return modem_manager_runs_;
}

void FakeSerialBackend::SetModemManagerRuns(bool runs) {
  std::lock_guard<std::mutex> guard(lock_);
  modem_manager_runs_ = runs;
}

std::vector<std::string> FakeSerialBackend::FurtherProbePorts() {
  std::lock_guard<std::mutex> guard(lock_);
  return further_;
}

void FakeSerialBackend::Fail(const std::string& name, OpenFailureKind kind) {
  std::lock_guard<std::mutex> guard(lock_);
  failures_[name] = kind;
}

void FakeSerialBackend::SetHolders(const std::string& name, std::vector<PortHolder> holders) {
  std::lock_guard<std::mutex> guard(lock_);
  holders_[name] = std::move(holders);
}

void FakeSerialBackend::SetListed(const std::vector<std::string>& paths) {
  std::lock_guard<std::mutex> guard(lock_);
  listed_ = paths;
}

void FakeSerialBackend::SetFurtherProbePorts(std::vector<std::string> names) {
  std::lock_guard<std::mutex> guard(lock_);
  further_ = std::move(names);
}

std::vector<std::string> FakeSerialBackend::Opened() const {
  std::lock_guard<std::mutex> guard(lock_);
  return opened_;
}

}  // namespace mfu::test

namespace mfu::test {

bool FakeSerialBackend::IsHardwarePort(const char* port_name) {
  std::lock_guard<std::mutex> guard(lock_);
  return std::find(hardware_.begin(), hardware_.end(), std::string(port_name)) != hardware_.end();
}

void FakeSerialBackend::SetHardwarePorts(std::vector<std::string> names) {
  std::lock_guard<std::mutex> guard(lock_);
  hardware_ = std::move(names);
}

}  // namespace mfu::test
