// The sender's one way up. The ZMODEM sender knows nothing of the session, the
// log or the window: everything it has to tell, and the two things it needs
// from above (the file it announces and the flash loader's final answer), go
// through this interface, which the session implements.
//
// Threads: every operation is called on the sender thread. The outlet must
// outlive the sender thread (StartSender to StopSender).
#pragma once

#include <cstdint>
#include <span>

#include "platform/clock.h"
#include "zmodem/zmodem.h"

namespace mfu {

// The one file the sender announces in ZFILE and then sends: the image (not
// owned; it lives as long as the program), its date (seconds since 1970, UTC)
// and the 128-byte file information of the ZFILE data subpacket.
inline constexpr int kZfileInformationSize = 128;
struct AnnouncedFile {
  const std::uint8_t* data = nullptr;
  std::int32_t size = 0;
  std::int32_t date = 0;
  std::uint8_t information[kZfileInformationSize] = {};
};

// Why the session failed, as the sender saw it. The outlet puts it into
// words; the sender knows no texts.
enum class FailureKind : std::uint8_t {
  kRefused,       // an answer came, but not the due hex header
  kNoAnswer,      // no answer within the limit
  kLineBroken,    // the read failed: the line is gone
  kNotConfirmed,  // the flash loader's final answer holds no success
};

// What the modem was to answer when it failed.
enum class AwaitedAnswer : std::uint8_t {
  kStart,            // ZRQINIT
  kFileInformation,  // ZFILE
  kBlock,            // a ZDATA frame
  kEndOfFile,        // ZEOF
  kFinish,           // ZFIN
  kFlashCheck,       // "OO": the flash loader's final answer
};

struct FailureCause {
  FailureKind kind = FailureKind::kNoAnswer;
  AwaitedAnswer awaited = AwaitedAnswer::kStart;
  std::uint32_t block = 0;   // kBlock: the block, counted from 1
  std::uint32_t blocks = 0;  // kBlock: the blocks of the image
  // kRefused: GetHeader's result (HeaderNone, HeaderHex, ..., HeaderError)
  // and the type of the header that came (as far as it was read).
  int header = 0;
  std::uint8_t header_type = 0;
  Millis limit = 0;  // kNoAnswer: the limit the answer missed, program ms
  // kLineBroken: the port's error code and the system's own number.
  std::uint32_t error = 0;
  int system_error = 0;
};

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

  // Finds the file to send. false when there is none (nothing is sent then).
  virtual bool FindFile(AnnouncedFile& file) = 0;

  // Reads the flash loader's final answer (at most 4096 bytes, `limit` ms),
  // shows it to the user, and hands back the bytes the read delivered (empty
  // when none came). They stay valid until the sender's next read. An answer
  // that no longer counts (the user cancelled first) is neither shown nor
  // handed back: empty, whatever came.
  virtual std::span<const std::uint8_t> ReadFinalAnswer(Millis limit) = 0;

  // The outcome: the flash loader reported success, or the session failed,
  // and why (the sender reports its first failure only).
  virtual void Succeeded() = 0;
  virtual void Failed(const FailureCause& cause) = 0;

  // The sender has served every event raised so far and no read is armed:
  // nothing more will happen unless it is stopped. Called after the outcome
  // that led there.
  virtual void Rests() = 0;
};

}  // namespace mfu
