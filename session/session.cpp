#include "session/session.h"

#include "platform/diag.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "ui/log.h"

namespace mfu {

bool Session::UpdateUnderWay() const {
  // From the confirmed start on, not only once ZRQINIT is out: the modem may
  // already have taken "b" and wait for the transfer, and a cancel must tell
  // it so.
  return start_confirmed_.load() && monitor_.LastOutcome() == Outcome::kNone;
}

void Session::SignalStartUpdate() {
  if (!monitor_.StartUpdateEvent) return;
  start_confirmed_ = true;
  monitor_.StartUpdateEvent->Set();
}

void Session::CancelUpdate() {
  if (!start_confirmed_) return;
  // The run has one outcome: when the sender decided it first (its final
  // answer came, or the session failed), the stop only ends the program.
  if (!monitor_.DecideCancelled()) return;
  // 500 ms lets a frame being written (180 ms for a full block) finish whole;
  // the stop's own limit then still holds. A start the monitor had not served
  // yet is dropped (see DecideCancelled): no sender, nothing sent to stop.
  if (sender_.SenderThreadHandle() && !sender_.AbortSender(500, 4000)) {
    Diag("SenderThread did not end after the cancel\n");
  }
  char text[kMessageBufferSize];
  LoadText(kTextUpdateInterrupted, text, sizeof text);
  ReportFailure(text);
}

}  // namespace mfu
