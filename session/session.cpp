#include "session/session.h"

#include "platform/diag.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "ui/log.h"
#include "zmodem/zmodem.h"

namespace mfu {

bool Session::UpdateUnderWay() const {
  return sender_.SenderThreadHandle() && SenderRecord.State.load() != kSenderStarting && !sender_.SenderRests() &&
         monitor_.LastOutcome() == Outcome::kNone;
}

void Session::SignalStartUpdate() {
  if (monitor_.StartUpdateEvent) monitor_.StartUpdateEvent->Set();
}

void Session::CancelUpdate() {
  if (!UpdateUnderWay()) return;
  // 500 ms lets a frame being written (180 ms for a full block) finish whole;
  // the stop's own limit then still holds.
  if (!sender_.AbortSender(500, 4000)) Diag("SenderThread did not end after the cancel\n");
  monitor_.MarkUpdateCancelled();
  char text[kMessageBufferSize];
  LoadText(kTextUpdateInterrupted, text, sizeof text);
  ReportFailure(text);
}

}  // namespace mfu
