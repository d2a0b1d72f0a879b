// The session monitor: a worker thread that turns the update's events into
// what the user sees. It starts the sender on the user's confirmed start (and
// is the sender's outlet), reports success (firmware name and date) or
// failure (with the retry hint) and gives back the buttons; when the sender
// has nothing left to do it tells the window (Window::SessionRests); on quit
// it closes the port.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/worker.h"
#include "serial/comm_port.h"
#include "zmodem/sender.h"
#include "zmodem/sender_outlet.h"

namespace mfu {

// The last outcome the monitor reported.
enum class Outcome { kNone, kSucceeded, kFailed };

// The sender's outlet as the session gives it: log texts and the progress bar
// go to the window (MainDialog), the file comes from the firmware, the final
// answer through the answer reader on `port`, the outcome to the events
// `succeeded` and `failed`, and the rest to `rests`. The handles are the
// owner's (null while none exists); the outlet only sets them. Sender thread.
class SessionOutlet : public SenderOutlet {
 public:
  SessionOutlet(CommPort& port, const EventHandle& succeeded, const EventHandle& failed, const EventHandle& rests)
      : port_(port), succeeded_(succeeded), failed_(failed), rests_(rests) {}

  void Log(unsigned text_id) override;
  void SetProgressRange(std::uint16_t blocks) override;
  void StepProgress() override;
  bool FindFile(AnnouncedFile& file) override;
  std::span<const std::uint8_t> ReadFinalAnswer(Millis limit) override;
  void Succeeded() override;
  void Failed() override;
  void Rests() override;

 private:
  CommPort& port_;
  const EventHandle& succeeded_;
  const EventHandle& failed_;
  const EventHandle& rests_;
};

// The session monitor: its thread, its events, the last outcome, and the
// outlet it gives the sender. Owned by the session, beside the port and the
// sender it uses (both outlive it); its destructor stops it.
//
// Threads: StartSessionMonitor, StopSessionMonitor and MarkUpdateCancelled
// on the window thread; SessionMonitorExists and LastOutcome on any thread;
// the rest on the monitor thread and, for the outlet, the sender thread.
class SessionMonitor {
 public:
  SessionMonitor(CommPort& port, SenderThread& sender) : port_(port), sender_(sender) {}
  ~SessionMonitor() { StopSessionMonitor(); }
  SessionMonitor(const SessionMonitor&) = delete;
  SessionMonitor& operator=(const SessionMonitor&) = delete;

  // The monitor's events (automatic reset), created by StartSessionMonitor in
  // this order, with the port's ReadCompleteEvent and WriteCompleteEvent,
  // and closed by StopSessionMonitor. Null while none exist.
  EventHandle QuitMonitorEvent;
  EventHandle StartUpdateEvent;
  EventHandle UpdateSucceededEvent;
  EventHandle UpdateFailedEvent;

  // True when the port's status lines show a modem (CTS or DSR), the six
  // events exist and the thread runs.
  bool StartSessionMonitor();

  // Asks the monitor to quit (it closes the port), waits up to 5000 ms and
  // joins it, then stops the sender the same way and closes the six events.
  // Does nothing when the monitor was never started.
  void StopSessionMonitor();

  // True from StartSessionMonitor's success to StopSessionMonitor.
  bool SessionMonitorExists() const { return exists_.load(); }

  Outcome LastOutcome() const { return last_outcome_.load(); }
  // The user cancelled the update: it failed, and nothing more is reported.
  void MarkUpdateCancelled() { last_outcome_ = Outcome::kFailed; }

 private:
  // The thread's body (SessionMonitorThread): one event at a time until the quit.
  void Run();
  void ReportSuccess();
  void ReportFailureOutcome();
  void CloseSessionEvents();

  CommPort& port_;
  SenderThread& sender_;
  // The sender has nothing left to do; the lowest slot of the monitor's wait,
  // so the outcome that led there has been reported before the window hears
  // of it.
  EventHandle sender_rests_;
  SessionOutlet outlet_{port_, UpdateSucceededEvent, UpdateFailedEvent, sender_rests_};
  std::unique_ptr<Worker> thread_;
  std::atomic<bool> exists_{false};
  std::atomic<Outcome> last_outcome_{Outcome::kNone};
};

// The success report's date line text: `seconds` since 1970 as asctime
// shows it, with everything after the year's last digit trimmed.
void FormatFirmwareDate(std::int64_t seconds, char* text, std::size_t capacity);

}  // namespace mfu
