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
  if (!SenderThreadHandle() || SenderRests()) return;
  // The run has one outcome: when the sender decided it first (its final
  // answer came, or the session failed), the stop only ends the program.
  if (!DecideCancelled()) return;
  // 500 ms lets a frame being written (180 ms for a full block) finish whole;
  // the stop's own limit then still holds.
  if (!AbortSender(500, 4000)) Diag("SenderThread did not end after the cancel\n");
  char text[kMessageBufferSize];
  LoadText(kTextUpdateInterrupted, text, sizeof text);
  ReportFailure(text);
}

}  // namespace mfu
