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
  g_last_outcome = Outcome::kSucceeded;
}

void ReportFailureOutcome() {
  // One report per session, whatever more the sender raised.
  if (g_last_outcome == Outcome::kFailed) return;
  char format[64];
  LoadText(kTextUpdateFailed, format, sizeof format);
  ReportFailure(format);
  EnableButton(kIdBeenden);
  g_last_outcome = Outcome::kFailed;
}

void TellWindowSessionRests() {
  if (Window* window = MainDialog(); window != nullptr) window->SessionRests();
}

// Never destroyed, as the events are: the sender thread calls it until it is joined.
SessionOutlet& g_outlet = ProgramLifetime<SessionOutlet>();

void SessionMonitorThread() {
  Event* const waits[] = {QuitMonitorEvent.get(), StartUpdateEvent.get(), UpdateSucceededEvent.get(),
                          UpdateFailedEvent.get(), g_sender_rests.get()};
  for (;;) {
    switch (WaitForAny(waits, 5, kInfinite)) {
      case 0:
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
        ReportSuccess();
        break;
      case 3:
        ReportFailureOutcome();
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

bool SessionOutlet::FindFile(AnnouncedFile& file) {
  static_assert(kZfileInformationSize == kFileInformationSize);
  FirmwareFile firmware;
  if (!FindFirmwareFile(firmware)) return false;
  file.data = firmware.data;
  file.size = firmware.size;
  file.date = firmware.date;
  std::memcpy(file.information, firmware.information, sizeof file.information);
  return true;
}

std::span<const std::uint8_t> SessionOutlet::ReadFinalAnswer(Millis limit) { return mfu::ReadFinalAnswer(limit); }

void SessionOutlet::Succeeded() {
  if (UpdateSucceededEvent) UpdateSucceededEvent->Set();
}

void SessionOutlet::Failed() {
  if (UpdateFailedEvent) UpdateFailedEvent->Set();
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
  g_last_outcome = Outcome::kNone;

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

void MarkUpdateCancelled() { g_last_outcome = Outcome::kFailed; }

}  // namespace mfu
