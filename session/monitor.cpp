#include "session/monitor.h"

#include <atomic>
#include <cstring>
#include <memory>

#include "firmware/firmware.h"
#include "platform/diag.h"
#include "platform/utc_time.h"
#include "platform/worker.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "serial/comm_port.h"
#include "session/answer_reader.h"
#include "ui/log.h"
#include "ui/window.h"
#include "zmodem/sender.h"

namespace mfu {

EventHandle& QuitMonitorEvent = ProgramLifetime<EventHandle>();
EventHandle& StartUpdateEvent = ProgramLifetime<EventHandle>();
EventHandle& UpdateSucceededEvent = ProgramLifetime<EventHandle>();
EventHandle& UpdateFailedEvent = ProgramLifetime<EventHandle>();

namespace {

// The sender has nothing left to do; the lowest slot of the monitor's wait, so
// the outcome that led there has been reported before the window hears of it.
EventHandle& g_sender_rests = ProgramLifetime<EventHandle>();

// Not destroyed at exit(): its destructor would join a thread that may wait
// for good (see ProgramLifetime).
std::unique_ptr<Worker>& g_monitor_thread = ProgramLifetime<std::unique_ptr<Worker>>();
std::atomic<bool> g_monitor_exists{false};
std::atomic<Outcome> g_last_outcome{Outcome::kNone};

void EnableButton(int id) {
  if (Window* window = MainDialog(); window != nullptr) window->EnableButton(id, true);
}

// Moves the open outcome (none yet, or the final answer being judged) to the
// sender's verdict; false when a cancel or an earlier verdict decided it.
bool DecideVerdict(Outcome verdict) {
  Outcome open = Outcome::kNone;
  if (g_last_outcome.compare_exchange_strong(open, verdict)) return true;
  // Only the sender thread, which calls this, moves the outcome on from
  // kJudging: the second try cannot race with another verdict.
  open = Outcome::kJudging;
  return g_last_outcome.compare_exchange_strong(open, verdict);
}

void ReportSuccess() {
  AppendLogString(kTextUpdateSucceeded);

  char name[32];
  LoadText(kTextFirmwareName, name, sizeof name);
  AppendLogFormatted(kTextNewFirmwareName, name);

  char date[64];
  FormatFirmwareDate(SenderRecord.FileDate.load(), date, sizeof date);
  AppendLogFormatted(kTextNewFirmwareDate, date);

  EnableButton(kIdHelp);
  EnableButton(kIdSaveLog);
  EnableButton(kIdBeenden);
}

void ReportFailureOutcome() {
  char format[64];
  LoadText(kTextUpdateFailed, format, sizeof format);
  ReportFailure(format);
  EnableButton(kIdBeenden);
}

// Reports the decided outcome once per session (`reported`, the monitor's
// own); nothing while it is open or when the cancel decided it (the cancel
// reported it itself).
void ReportOutcome(bool& reported) {
  if (reported) return;
  switch (g_last_outcome.load()) {
    case Outcome::kSucceeded:
      ReportSuccess();
      reported = true;
      break;
    case Outcome::kFailed:
      ReportFailureOutcome();
      reported = true;
      break;
    default:
      break;
  }
}

void TellWindowSessionRests() {
  if (Window* window = MainDialog(); window != nullptr) window->SessionRests();
}

// Never destroyed, as the events are: the sender thread calls it until it is joined.
SessionOutlet& g_outlet = ProgramLifetime<SessionOutlet>();

void SessionMonitorThread() {
  Event* const waits[] = {QuitMonitorEvent.get(), StartUpdateEvent.get(), UpdateSucceededEvent.get(),
                          UpdateFailedEvent.get(), g_sender_rests.get()};
  bool reported = false;
  for (;;) {
    switch (WaitForAny(waits, 5, kInfinite)) {
      case 0:
        // A verdict decided before the quit is the run's, even when its event
        // still waits behind the quit's lower slot: the log must tell it.
        ReportOutcome(reported);
        CloseCommPort();
        return;
      case 1:
        if (StartSender(g_outlet) != 0) {
          AppendLogString(kTextUpdateRunning);
        } else {
          // No sender will ever report: the session has nothing left to do.
          TellWindowSessionRests();
        }
        break;
      case 2:
      case 3:
        ReportOutcome(reported);
        break;
      case 4:
        TellWindowSessionRests();
        break;
      default:
        break;
    }
  }
}

void CloseSessionEvents() {
  QuitMonitorEvent.reset();
  StartUpdateEvent.reset();
  UpdateSucceededEvent.reset();
  UpdateFailedEvent.reset();
  ReadCompleteEvent.reset();
  WriteCompleteEvent.reset();
  g_sender_rests.reset();
}

}  // namespace

void SessionOutlet::Log(unsigned text_id) { AppendLogString(text_id); }

void SessionOutlet::SetProgressRange(std::uint16_t blocks) {
  if (Window* window = MainDialog(); window != nullptr) {
    window->SetProgressRange(blocks);
    window->SetProgressStep(1);
  }
}

void SessionOutlet::StepProgress() {
  if (Window* window = MainDialog(); window != nullptr) window->StepProgress();
}

std::int32_t SessionOutlet::SendZFILE(ZMSender& zm) { return mfu::SendZFILE(zm, *this); }

void SessionOutlet::ReadFinalAnswer(Millis limit) {
  // After a cancel nothing more is awaited; the sender is on its way out.
  if (g_last_outcome == Outcome::kCancelled) return;
  const std::uint32_t count = mfu::ReadFinalAnswer(limit);
  // The answer is in: from here on its verdict is the run's, unless the
  // user's cancel came first, and then it is not shown at all.
  Outcome open = Outcome::kNone;
  if (!g_last_outcome.compare_exchange_strong(open, Outcome::kJudging)) return;
  ShowFinalAnswer(count);
}

void SessionOutlet::Succeeded() {
  if (DecideVerdict(Outcome::kSucceeded) && UpdateSucceededEvent) UpdateSucceededEvent->Set();
}

void SessionOutlet::Failed() {
  if (DecideVerdict(Outcome::kFailed) && UpdateFailedEvent) UpdateFailedEvent->Set();
}

void SessionOutlet::Rests() {
  if (g_sender_rests) g_sender_rests->Set();
}

void FormatFirmwareDate(std::int64_t seconds, char* text, std::size_t capacity) {
  if (capacity == 0) return;
  const std::string date = AscTimeUtc(seconds);
  std::size_t length = date.size() < capacity - 1 ? date.size() : capacity - 1;
  std::memcpy(text, date.data(), length);
  // asctime ends in a newline: trim back to the year's last digit.
  while (length > 0 && (text[length - 1] < '0' || text[length - 1] > '9')) --length;
  text[length] = '\0';
}

bool StartSessionMonitor() {
  std::uint32_t bits = 0;
  if (!GetCommModemStatus(bits) || (bits & (kMsCtsOn | kMsDsrOn)) == 0) {
    CloseCommPort();
    return false;
  }
  ResetReadRecord();
  QuitMonitorEvent = MakeEvent(Event::Reset::kAutomatic);
  StartUpdateEvent = MakeEvent(Event::Reset::kAutomatic);
  UpdateSucceededEvent = MakeEvent(Event::Reset::kAutomatic);
  UpdateFailedEvent = MakeEvent(Event::Reset::kAutomatic);
  ReadCompleteEvent = MakeEvent(Event::Reset::kManual);
  WriteCompleteEvent = MakeEvent(Event::Reset::kManual);
  g_sender_rests = MakeEvent(Event::Reset::kAutomatic);
  ResetOutcome();

  auto thread = std::make_unique<Worker>();
  if (!thread->Start(&SessionMonitorThread)) {
    Diag("CreateThread() failed\n");
    // Nothing would ever close the port or the events: the stop procedure
    // finds no monitor. Give them back now.
    CloseSessionEvents();
    CloseCommPort();
    return false;
  }
  g_monitor_thread = std::move(thread);
  g_monitor_exists = true;
  return true;
}

void StopSessionMonitor() {
  if (!g_monitor_exists) return;
  // A final answer under judgement: the sender has no read armed and comes to
  // rest with its verdict at once; stopping it first lets the monitor report
  // that verdict as it quits.
  if (g_last_outcome == Outcome::kJudging && SenderThreadHandle()) StopSender();
  QuitMonitorEvent->Set();
  if (!g_monitor_thread->Join(5000)) Diag("SessionMonitorThread did not end within 5000 ms\n");
  g_monitor_exists = false;
  g_monitor_thread.reset();
  // The monitor has closed the port as it quit, which ended a read the sender
  // may be waiting in.
  if (SenderThreadHandle()) StopSender();
  CloseSessionEvents();
}

bool SessionMonitorExists() { return g_monitor_exists.load(); }

Outcome LastOutcome() { return g_last_outcome.load(); }

void ResetOutcome() { g_last_outcome = Outcome::kNone; }

bool DecideCancelled() {
  Outcome open = Outcome::kNone;
  return g_last_outcome.compare_exchange_strong(open, Outcome::kCancelled);
}

}  // namespace mfu
