// The port operations over the serial-device seam. The call order of every
// operation is the one the modem and the platforms were tested with; the
// device layer below is thin and does only what each call names.
#include "serial/comm_port.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "platform/diag.h"

namespace mfu {

std::uint8_t ModemResponseBuffer[kModemResponseBufferSize];

namespace {

std::atomic<SerialBackend*> g_backend{nullptr};

constexpr std::uint32_t kQueueSize = 2048;

void ResetEventIfAny(const EventHandle& event) {
  if (event) event->ResetEvent();
}

void SetEventIfAny(const EventHandle& event) {
  if (event) event->Set();
}

}  // namespace

CommPort::~CommPort() { CloseCommPort(); }

SerialHandle CommPort::PortHandle() const {
  std::lock_guard<std::mutex> guard(port_lock_);
  return port_;
}

void CommPort::SetPortHandle(SerialHandle handle) {
  std::lock_guard<std::mutex> guard(port_lock_);
  port_ = std::move(handle);
}

SerialBackend& TheSerialBackend() {
  SerialBackend* backend = g_backend.load();
  return backend != nullptr ? *backend : PlatformSerialBackend();
}

void SetSerialBackend(SerialBackend* backend) { g_backend.store(backend); }

SerialHandle SerialBackend::OpenPort(const char* port_name, OpenFailure& failure) {
  SerialHandle port = Open(port_name);
  failure = OpenFailure{};
  if (!port) failure.kind = OpenFailureKind::kOther;
  return port;
}

void BeginPortOpen(SerialDevice& port, PortSettings* save_state, const PortSettings& working_from) {
  if (save_state != nullptr) {
    save_state->bytes.clear();
    (void)port.GetState(*save_state);
  }
  (void)port.ApplyWorkingState(save_state != nullptr ? *save_state : working_from);
  // The modem resets on the DTR drop; the queues are sized while DTR is up.
  (void)port.SetDtr(true);
  (void)port.SetupQueues(kQueueSize, kQueueSize);
  (void)port.SetDtr(false);
}

void EndPortOpen(SerialDevice& port, PortSettings* save_timeouts) {
  (void)port.SetDtr(true);
  if (save_timeouts != nullptr) {
    save_timeouts->bytes.clear();
    (void)port.GetTimeouts(*save_timeouts);
  }
  (void)port.ApplyWorkingTimeouts();
  (void)port.Purge();
}

SerialHandle CommPort::OpenCommPort(const char* port_name) {
  OpenFailure ignored;
  return OpenCommPort(port_name, ignored);
}

SerialHandle CommPort::OpenCommPort(const char* port_name, OpenFailure& failure) {
  failure = OpenFailure{};
  if (port_name == nullptr) {
    failure.kind = OpenFailureKind::kMissing;
    return nullptr;
  }
  SerialHandle port = TheSerialBackend().OpenPort(port_name, failure);
  if (!port) return nullptr;

  // The results of the configuration calls are not acted on: once the port
  // is open, a driver that refuses one setting still carries the modem.
  std::lock_guard<std::mutex> guard(saved_lock_);
  BeginPortOpen(*port, SavedPortState.saved ? nullptr : &SavedPortState.settings, SavedPortState.settings);
  SavedPortState.saved = true;
  SleepMs(kDtrDropMs);
  EndPortOpen(*port, SavedPortTimeouts.saved ? nullptr : &SavedPortTimeouts.settings);
  SavedPortTimeouts.saved = true;
  return port;
}

bool CommPort::PurgeCommInput() {
  const SerialHandle port = PortHandle();
  return port && port->Purge();
}

void CommPort::CloseCommPort() {
  // Taking the handle out first means a read or write that starts from now
  // on finds no port, and a second close (window and monitor racing at the
  // end) finds nothing to restore twice.
  SerialHandle port;
  {
    std::lock_guard<std::mutex> guard(port_lock_);
    port.swap(port_);
  }
  if (!port) return;

  (void)port->Purge();  // ends a read or write another thread waits in
  {
    std::lock_guard<std::mutex> guard(saved_lock_);
    if (SavedPortTimeouts.saved) {
      (void)port->SetTimeouts(SavedPortTimeouts.settings);
      SavedPortTimeouts.saved = false;
    }
    if (SavedPortState.saved) {
      (void)port->SetState(SavedPortState.settings);
      SavedPortState.saved = false;
    }
  }
  port->Close();
}

bool CommPort::WriteToComm(const std::uint8_t* data, std::int32_t count) {
  SerialHandle port = PortHandle();
  if (!port) return false;
  (void)port->ClearErrors();
  ResetEventIfAny(WriteCompleteEvent);

  if (count < 0 || (data == nullptr && count > 0)) {
    // The platform refuses such a buffer outright.
    Diag("WriteToComm() failed\n");
    return false;
  }
  const auto wanted = static_cast<std::uint32_t>(count);
  const IoResult start = port->StartWrite(data, wanted);
  if (start.state == IoResult::State::kCompleted) {
    SetEventIfAny(WriteCompleteEvent);
    if (start.count == wanted) return true;
    Diag("Write timed out. (immediate)\n");
    return false;
  }
  if (start.state == IoResult::State::kFailed && start.error != kErrorIoPending) {
    Diag("WriteToComm() failed\n");
    return false;
  }

  const IoResult done = port->FinishWrite();
  SetEventIfAny(WriteCompleteEvent);
  const std::uint32_t last_error = done.state == IoResult::State::kFailed ? done.error : kErrorSuccess;
  if (last_error == kErrorOperationAborted) Diag("Write aborted\n");
  if (done.count == wanted) return true;
  if (last_error == kErrorSuccess) {
    Diag("Write timed out. (overlapped)\n");
  } else {
    Diag("Error writing data to port (overlapped)\n");
  }
  return false;
}

bool CommPort::WriteToComm(const char* text) {
  if (text == nullptr) return WriteToComm(static_cast<const std::uint8_t*>(nullptr), 0);
  std::int32_t length = 0;
  while (text[length] != '\0') ++length;
  return WriteToComm(reinterpret_cast<const std::uint8_t*>(text), length);
}

void CommPort::InterruptCommWaits() {
  waits_interrupted_ = true;
  interrupt_event_.Set();
  // The flag is up before the purge: a read armed after it sees the flag, one
  // armed before it is ended by the purge.
  if (const SerialHandle port = PortHandle()) (void)port->Purge();
}

void CommPort::ClearCommInterrupt() {
  waits_interrupted_ = false;
  interrupt_event_.ResetEvent();
}

void CommPort::PauseComm(Millis ms) {
  if (waits_interrupted_) return;
  WaitTicker* const ticker = ticker_.load();
  if (ticker == nullptr) {
    (void)interrupt_event_.Wait(ms);
    return;
  }
  // The same pause in slices of a second, each told to the ticker.
  for (Millis left = ms; left > 0;) {
    ticker->Waiting(left);
    const Millis slice = std::min(left, kWaitTickMs);
    if (interrupt_event_.Wait(slice)) return;
    left -= slice;
  }
}

bool CommPort::WaitReadTicking(SerialDevice& port, Millis limit) {
  WaitTicker* const ticker = ticker_.load();
  if (ticker == nullptr || limit == kInfinite) return port.WaitRead(limit);
  // Slices of one wait: a read the limit of a slice leaves pending keeps its
  // bytes and goes on in the next slice, so the burst is taken whole as in
  // one wait of the whole limit. An interrupt's purge ends the read, which
  // ends the slice.
  for (Millis left = limit;;) {
    ticker->Waiting(left);
    const Millis slice = std::min(left, kWaitTickMs);
    if (port.WaitRead(slice)) return true;
    left -= slice;
    if (left == 0) return false;
  }
}

int CommPort::ReadFromComm(std::uint8_t* buffer, std::uint32_t max, Millis limit) {
  last_read_failure_ = ReadFailure{};
  SerialHandle port = PortHandle();
  if (!port) {
    last_read_failure_.error = kErrorInvalidHandle;
    return 0;
  }
  last_read_count_.store(0);
  if (waits_interrupted_) return 0;
  (void)port->ClearErrors();
  ResetEventIfAny(ReadCompleteEvent);

  const IoResult start = port->StartRead(buffer, max);
  if (waits_interrupted_) {
    (void)port->Purge();
    return 0;
  }
  if (start.state == IoResult::State::kCompleted) {
    last_read_count_.store(start.count);
    SetEventIfAny(ReadCompleteEvent);
    return static_cast<int>(start.count);
  }
  if (start.state == IoResult::State::kFailed && start.error != kErrorIoPending) {
    DiagF("ReadFile() failed (%d)\n", static_cast<int>(start.error));
    last_read_failure_ = ReadFailure{start.error, start.system_error};
    return static_cast<int>(LastReadCount());
  }

  if (!WaitReadTicking(*port, limit)) {
    // Not cancelled: the read stays armed with the caller's buffer and the
    // bytes it has, and the completion check takes them with what follows.
    Diag("READ TIMEOUT\n");
    return -1;
  }
  SetEventIfAny(ReadCompleteEvent);
  const IoResult result = port->ReadResult();
  last_read_count_.store(result.count);
  if (result.state != IoResult::State::kCompleted) {
    Diag("GOT ERROR FROM READ FN\n");
    last_read_failure_ = ReadFailure{result.error == kErrorSuccess ? kErrorGenFailure : result.error,
                                     result.system_error};
  }
  return static_cast<int>(LastReadCount());
}

std::uint32_t CommPort::CollectTimedOutRead(std::uint8_t* buffer, std::uint32_t max) {
  SerialHandle port = PortHandle();
  if (!port) return 0;
  // Arming the record again ends the pending read: the bytes it had taken
  // come back at once as this read's result; without any it stays pending.
  const IoResult result = port->StartRead(buffer, max);
  if (result.state != IoResult::State::kCompleted || result.count == 0) return 0;
  last_read_count_.store(result.count);
  SetEventIfAny(ReadCompleteEvent);
  return result.count;
}

bool CommPort::GetOverlappedReadResult(std::uint32_t& error) {
  SerialHandle port = PortHandle();
  if (!port) {
    error = kErrorInvalidHandle;
    return false;
  }
  const IoResult result = port->ReadResult();
  if (result.state == IoResult::State::kCompleted) {
    last_read_count_.store(result.count);
    SetEventIfAny(ReadCompleteEvent);
    error = kErrorSuccess;
    return true;
  }
  error = result.error;
  return false;
}

bool CommPort::GetCommModemStatus(std::uint32_t& bits) {
  SerialHandle port = PortHandle();
  if (!port) return false;
  std::uint32_t error = kErrorSuccess;
  return port->GetModemStatus(bits, error);
}

}  // namespace mfu
