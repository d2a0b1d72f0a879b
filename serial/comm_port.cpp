// The port operations over the serial-device seam. The call order of every
// operation is the one the modem and the platforms were tested with; the
// device layer below is thin and does only what each call names.
#include "serial/comm_port.h"

#include <atomic>
#include <mutex>

#include "platform/diag.h"

namespace mfu {

std::uint8_t ModemResponseBuffer[kModemResponseBufferSize];
EventHandle& ReadCompleteEvent = ProgramLifetime<EventHandle>();
EventHandle& WriteCompleteEvent = ProgramLifetime<EventHandle>();

namespace {

// The handle is read by the sender thread while the monitor thread may close
// it: every user takes its own reference under the lock, so the device lives
// until the last call on it has returned, and Close() ends a blocked call.
std::mutex g_port_lock;
SerialHandle g_port;

std::atomic<std::uint32_t> g_last_read_count{0};

struct SavedSettings {
  PortSettings settings;
  bool saved = false;
};

// Open and close run on one thread at a time (window thread, then monitor),
// but never at once with each other; the lock keeps that honest anyway.
std::mutex g_saved_lock;
SavedSettings SavedPortState;     // line settings of the first open
SavedSettings SavedPortTimeouts;  // timeouts of the first open

std::atomic<SerialBackend*> g_backend{nullptr};

constexpr std::uint32_t kQueueSize = 2048;

void ResetEventIfAny(const EventHandle& event) {
  if (event) event->ResetEvent();
}

void SetEventIfAny(const EventHandle& event) {
  if (event) event->Set();
}

}  // namespace

SerialHandle PortHandle() {
  std::lock_guard<std::mutex> guard(g_port_lock);
  return g_port;
}

void SetPortHandle(SerialHandle handle) {
  std::lock_guard<std::mutex> guard(g_port_lock);
  g_port = std::move(handle);
}

std::uint32_t LastReadCount() { return g_last_read_count.load(); }
void SetLastReadCount(std::uint32_t count) { g_last_read_count.store(count); }

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

SerialHandle OpenCommPort(const char* port_name) {
  OpenFailure ignored;
  return OpenCommPort(port_name, ignored);
}

SerialHandle OpenCommPort(const char* port_name, OpenFailure& failure) {
  failure = OpenFailure{};
  if (port_name == nullptr) {
    failure.kind = OpenFailureKind::kMissing;
    return nullptr;
  }
  SerialHandle port = TheSerialBackend().OpenPort(port_name, failure);
  if (!port) return nullptr;

  // The results of the configuration calls are not acted on: once the port
  // is open, a driver that refuses one setting still carries the modem.
  std::lock_guard<std::mutex> guard(g_saved_lock);
  BeginPortOpen(*port, SavedPortState.saved ? nullptr : &SavedPortState.settings, SavedPortState.settings);
  SavedPortState.saved = true;
  SleepMs(kDtrDropMs);
  EndPortOpen(*port, SavedPortTimeouts.saved ? nullptr : &SavedPortTimeouts.settings);
  SavedPortTimeouts.saved = true;
  return port;
}

bool PurgeCommInput() {
  const SerialHandle port = PortHandle();
  return port && port->Purge();
}

void CloseCommPort() {
  // Taking the handle out first means a read or write that starts from now
  // on finds no port, and a second close (window and monitor racing at the
  // end) finds nothing to restore twice.
  SerialHandle port;
  {
    std::lock_guard<std::mutex> guard(g_port_lock);
    port.swap(g_port);
  }
  if (!port) return;

  (void)port->Purge();  // ends a read or write another thread waits in
  {
    std::lock_guard<std::mutex> guard(g_saved_lock);
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

bool WriteToComm(const std::uint8_t* data, std::int32_t count) {
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

bool WriteToComm(const char* text) {
  if (text == nullptr) return WriteToComm(static_cast<const std::uint8_t*>(nullptr), 0);
  std::int32_t length = 0;
  while (text[length] != '\0') ++length;
  return WriteToComm(reinterpret_cast<const std::uint8_t*>(text), length);
}

namespace {

// Set by InterruptCommWaits: reads and pauses of the connection procedure end
// at once. An event, so that a pause can wait on it.
std::atomic<bool> g_waits_interrupted{false};
Event& InterruptEvent() {
  static Event& event = *new Event(Event::Reset::kManual);  // outlives every waiting thread
  return event;
}

}  // namespace

void InterruptCommWaits() {
  g_waits_interrupted = true;
  InterruptEvent().Set();
  // The flag is up before the purge: a read armed after it sees the flag, one
  // armed before it is ended by the purge.
  if (const SerialHandle port = PortHandle()) (void)port->Purge();
}

bool CommWaitsInterrupted() { return g_waits_interrupted.load(); }

void ClearCommInterrupt() {
  g_waits_interrupted = false;
  InterruptEvent().ResetEvent();
}

void PauseComm(Millis ms) {
  if (g_waits_interrupted) return;
  (void)InterruptEvent().Wait(ms);
}

int ReadFromComm(std::uint8_t* buffer, std::uint32_t max, Millis limit) {
  SerialHandle port = PortHandle();
  if (!port) return 0;
  SetLastReadCount(0);
  if (g_waits_interrupted) return 0;
  (void)port->ClearErrors();
  ResetEventIfAny(ReadCompleteEvent);

  const IoResult start = port->StartRead(buffer, max);
  if (g_waits_interrupted) {
    (void)port->Purge();
    return 0;
  }
  if (start.state == IoResult::State::kCompleted) {
    SetLastReadCount(start.count);
    SetEventIfAny(ReadCompleteEvent);
    return static_cast<int>(start.count);
  }
  if (start.state == IoResult::State::kFailed && start.error != kErrorIoPending) {
    DiagF("ReadFile() failed (%d)\n", static_cast<int>(start.error));
    return static_cast<int>(LastReadCount());
  }

  if (!port->WaitRead(limit)) {
    // Not cancelled: the read stays armed with the caller's buffer and the
    // bytes it has, and the completion check takes them with what follows.
    Diag("READ TIMEOUT\n");
    return -1;
  }
  SetEventIfAny(ReadCompleteEvent);
  const IoResult result = port->ReadResult();
  SetLastReadCount(result.count);
  if (result.state != IoResult::State::kCompleted) Diag("GOT ERROR FROM READ FN\n");
  return static_cast<int>(LastReadCount());
}

bool GetOverlappedReadResult(std::uint32_t& error) {
  SerialHandle port = PortHandle();
  if (!port) {
    error = kErrorInvalidHandle;
    return false;
  }
  const IoResult result = port->ReadResult();
  if (result.state == IoResult::State::kCompleted) {
    SetLastReadCount(result.count);
    SetEventIfAny(ReadCompleteEvent);
    error = kErrorSuccess;
    return true;
  }
  error = result.error;
  return false;
}

bool GetCommModemStatus(std::uint32_t& bits) {
  SerialHandle port = PortHandle();
  if (!port) return false;
  std::uint32_t error = kErrorSuccess;
  return port->GetModemStatus(bits, error);
}

void ResetReadRecord() { SetLastReadCount(0); }

void ResetCommPortForTest() {
  SerialHandle port;
  {
    std::lock_guard<std::mutex> guard(g_port_lock);
    port.swap(g_port);
  }
  if (port) port->Close();
  std::lock_guard<std::mutex> guard(g_saved_lock);
  SavedPortState = SavedSettings{};
  SavedPortTimeouts = SavedSettings{};
  SetLastReadCount(0);
}

}  // namespace mfu
