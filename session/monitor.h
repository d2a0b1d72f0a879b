// The session monitor: a worker thread that turns the update's events into
// what the user sees. It starts the sender on the user's confirmed start (and
// is the sender's outlet), reports success (firmware name and date) or
// failure (with the retry hint) and gives back the buttons; when the sender
// has nothing left to do it tells the window (Window::SessionRests); on quit
// it closes the port.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "platform/event.h"
#include "zmodem/sender_outlet.h"

namespace mfu {

// The monitor's events (automatic reset), created by StartSessionMonitor in
// this order, with ReadCompleteEvent and WriteCompleteEvent, and closed by
// StopSessionMonitor. The handles are never destroyed (ProgramLifetime), so an
// exit() with the monitor still waiting frees nothing under it.
extern EventHandle& QuitMonitorEvent;
extern EventHandle& StartUpdateEvent;
extern EventHandle& UpdateSucceededEvent;
extern EventHandle& UpdateFailedEvent;

// The sender's outlet as the monitor gives it: log texts and the progress bar
// go to the window (MainDialog), the file announcement to the firmware, the
// final answer through the answer reader, the outcome to UpdateSucceededEvent
// and UpdateFailedEvent, and the rest to the monitor, which reports it to the
// window once it has reported the outcome. Sender thread.
class SessionOutlet : public SenderOutlet {
 public:
  void Log(unsigned text_id) override;
  void SetProgressRange(std::uint16_t blocks) override;
  void StepProgress() override;
  std::int32_t SendZFILE(ZMSender& zm) override;
  void ReadFinalAnswer(Millis limit) override;
  void Succeeded() override;
  void Failed() override;
  void Rests() override;
};

// True when the port's status lines show a modem (CTS or DSR), the six
// events exist and the thread runs. Window thread.
bool StartSessionMonitor();

// Window thread. Asks the monitor to quit (it closes the port), waits up to
// 5000 ms and joins it, then stops the sender the same way and closes the
// six events. While a final answer is being judged the sender is stopped
// first, so that the monitor reports its verdict before it quits. Does
// nothing when the monitor was never started.
void StopSessionMonitor();

// True from StartSessionMonitor's success to StopSessionMonitor.
bool SessionMonitorExists();

// The run's outcome. It is decided once, by whichever comes first: the
// sender (the flash loader's final answer came in, which makes its verdict
// the run's; or the session failed before it) or the user's cancel. What
// comes second finds it decided and changes nothing: a cancel after the final
// answer logs no interruption, and a final answer after a cancel is neither
// shown nor judged. The monitor reports the decided outcome, at the latest as
// it quits. Any thread.
enum class Outcome {
  kNone,       // the session is open
  kJudging,    // the final answer is in; its verdict follows on the sender thread
  kSucceeded,
  kFailed,
  kCancelled,  // the user cut the update short (text 2006 with the retry hint)
};
Outcome LastOutcome();
// A new session: no outcome decided. StartSessionMonitor does it; a sender
// run without the monitor (the sender's tests) calls it before StartSender.
void ResetOutcome();
// The user cancels the update: true when the outcome was still open and is
// now kCancelled, false when the sender decided it first.
bool DecideCancelled();

// The success report's date line text: `seconds` since 1970 as asctime
// shows it, with everything after the year's last digit trimmed.
void FormatFirmwareDate(std::int64_t seconds, char* text, std::size_t capacity);

}  // namespace mfu
