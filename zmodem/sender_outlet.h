// The sender's one way up. The ZMODEM sender knows nothing of the session, the
// log or the window: everything it has to tell, and the two things it needs
// from above (the file announcement and the flash loader's final answer), go
// through this interface, which the session implements.
//
// Threads: every operation is called on the sender thread. The outlet must
// outlive the sender thread (StartSender to StopSender).
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "zmodem/zmodem.h"

namespace mfu {

class SenderOutlet {
 public:
  virtual ~SenderOutlet() = default;

  // A text of the table, for the user's log ("new firmware goes out", "the
  // flash is checked").
  virtual void Log(unsigned text_id) = 0;

  // The progress bar: its range (one step per data block, step size 1), and
  // one step as each data block goes out.
  virtual void SetProgressRange(std::uint16_t blocks) = 0;
  virtual void StepProgress() = 0;

  // Finds the image, records it in `zm` and sends the ZFILE frame that
  // announces it (it sets the progress range through this outlet). 1 when the
  // frame went to the port, 0 when there is no image (nothing sent).
  virtual std::int32_t SendZFILE(ZMSender& zm) = 0;

  // Reads the flash loader's final answer into ModemResponseBuffer (at most
  // its size, `limit` ms); the bytes and their count stay there for the test.
  virtual void ReadFinalAnswer(Millis limit) = 0;

  // The outcome: the flash loader reported success, or the session failed
  // (each failure the sender sees is reported, also while it goes on).
  virtual void Succeeded() = 0;
  virtual void Failed() = 0;

  // The sender has served every event raised so far and no read is armed:
  // nothing more will happen unless it is stopped. Called after the outcome
  // that led there.
  virtual void Rests() = 0;
};

}  // namespace mfu
