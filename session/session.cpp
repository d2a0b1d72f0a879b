#include "session/session.h"

#include "session/monitor.h"
#include "zmodem/sender.h"
#include "zmodem/zmodem.h"

namespace mfu {

std::int32_t SenderState() { return SenderRecord.State.load(); }

void SignalStartUpdate() {
  if (StartUpdateEvent) StartUpdateEvent->Set();
}

}  // namespace mfu
