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
#include <mutex>
#include <span>
#include <string>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/worker.h"
#include "serial/comm_port.h"
#include "zmodem/sender.h"
#include "zmodem/sender_outlet.h"

namespace mfu {

// The run's outcome. It is decided once, by whichever comes first: the
// sender (the flash loader's final answer came in, which makes its verdict
// the run's; or the session failed before it) or the user's cancel. What
// comes second finds it decided and changes nothing: a cancel after the final
// answer logs no interruption, and a final answer after a cancel is neither
// shown nor judged. The monitor reports the decided outcome, at the latest as
// it quits.
enum class Outcome {
  kNone,       // the session is open
  kJudging,    // the final answer is in; its verdict follows on the sender thread
  kSucceeded,
  kFailed,
  kCancelled,  // the user cut the update short (text 2006 with the retry hint)
};

// The sender's outlet as the session gives it: log texts and the progress bar
// go to the window (MainDialog), the file comes from the firmware, the final
// answer through the answer reader on `port`, the verdict into `outcome`
// (only while it is open) and then to the events `succeeded` and `failed`,
// and the rest to `rests`. The handles and the outcome are the owner's (the
// handles null while none exists); the outlet only sets them. Sender thread.
class SessionOutlet : public SenderOutlet {
 public:
  SessionOutlet(CommPort& port, std::atomic<Outcome>& outcome, const EventHandle& succeeded,
                const EventHandle& failed, const EventHandle& rests)
      : port_(port), outcome_(outcome), succeeded_(succeeded), failed_(failed), rests_(rests) {}

  void Log(unsigned text_id) override;
  void SetProgressRange(std::uint16_t blocks) override;
  void StepProgress() override;
  bool FindFile(AnnouncedFile& file) override;
  std::span<const std::uint8_t> ReadFinalAnswer(Millis limit) override;
  void Succeeded() override;
  void Failed(const FailureCause& cause) override;
  void Rests() override;

  // Why the session failed: the cause the sender gave with the failure that
  // decided the outcome. Any thread, once the outcome is kFailed.
  FailureCause Cause() const;

 private:
  // Moves the open outcome (none yet, or the final answer being judged) to
  // the sender's verdict; false when a cancel or an earlier verdict decided it.
  bool DecideVerdict(Outcome verdict);

  CommPort& port_;
  std::atomic<Outcome>& outcome_;
  const EventHandle& succeeded_;
  const EventHandle& failed_;
  const EventHandle& rests_;
  mutable std::mutex cause_lock_;
  FailureCause cause_;
};

// The log line that says why the session failed (texts 38 to 41 and 45).
std::string FailureCauseLine(const FailureCause& cause);

// The session monitor: its thread, its events, the last outcome, and the
// outlet it gives the sender. Owned by the session, beside the port and the
// sender it uses (both outlive it); its destructor stops it.
//
// Threads: StartSessionMonitor, StopSessionMonitor and DecideCancelled on
// the window thread; SessionMonitorExists and LastOutcome on any thread;
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
  // While a final answer is being judged the sender is stopped first, so that
  // the monitor reports its verdict before it quits. Does nothing when the
  // monitor was never started.
  void StopSessionMonitor();

  // True from StartSessionMonitor's success to StopSessionMonitor.
  bool SessionMonitorExists() const { return exists_.load(); }

  // The run's outcome so far. Any thread.
  Outcome LastOutcome() const { return last_outcome_.load(); }
  // The user cancels the update: true when the outcome was still open and is
  // now kCancelled, false when the sender decided it first. Once it is
  // cancelled the monitor starts no sender: a start the user confirmed but the
  // monitor has not served yet is dropped. Window thread.
  bool DecideCancelled();

 private:
  // The thread's body (SessionMonitorThread): one event at a time until the quit.
  void Run();
  // Reports the decided outcome once per session (`reported`, the thread's
  // own); nothing while it is open or when the cancel decided it (the cancel
  // reported it itself).
  void ReportOutcome(bool& reported);
  void ReportSuccess();
  void ReportFailureOutcome();
  void CloseSessionEvents();

  CommPort& port_;
  SenderThread& sender_;
  // The sender has nothing left to do; the lowest slot of the monitor's wait,
  // so the outcome that led there has been reported before the window hears
  // of it.
  EventHandle sender_rests_;
  std::atomic<Outcome> last_outcome_{Outcome::kNone};
  // Held while the monitor starts the sender and while a cancel decides the
  // outcome: a cancel sees either the sender it must abort or an outcome that
  // keeps the monitor from starting one.
  std::mutex start_lock_;
  SessionOutlet outlet_{port_, last_outcome_, UpdateSucceededEvent, UpdateFailedEvent, sender_rests_};
  std::unique_ptr<Worker> thread_;
  std::atomic<bool> exists_{false};
};

// The success report's date line text: `seconds` since 1970 as asctime
// shows it, with everything after the year's last digit trimmed.
void FormatFirmwareDate(std::int64_t seconds, char* text, std::size_t capacity);

}  // namespace mfu
