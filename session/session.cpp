#include "session/session.h"

#include "platform/diag.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "session/monitor.h"
#include "ui/log.h"
#include "zmodem/sender.h"
#include "zmodem/zmodem.h"

namespace mfu {

std::int32_t SenderState() { return SenderRecord.State.load(); }

void SignalStartUpdate() {
  if (StartUpdateEvent) StartUpdateEvent->Set();
}

void CancelUpdate() {
  if (!SenderThreadHandle() || SenderRests() || LastOutcome() != Outcome::kNone) return;
  // 500 ms lets a frame being written (180 ms for a full block) finish whole;
  // the stop's own limit then still holds.
  if (!AbortSender(500, 4000)) Diag("SenderThread did not end after the cancel\n");
  MarkUpdateCancelled();
  char text[kMessageBufferSize];
  LoadText(kTextUpdateInterrupted, text, sizeof text);
  ReportFailure(text);
}

}  // namespace mfu
