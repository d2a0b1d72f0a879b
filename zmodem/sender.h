// The stop-and-wait ZMODEM sender: one file, every block of at most 512 bytes
// in a ZDATA frame of its own ending in ZCRCW, the next block only after the
// modem's ZACK; any other answer ends the session with ZABORT, a missing one
// without. The sender thread drives the record one step per answer.
//
// The sender reports upward only through the SenderOutlet it is started with.
//
// Threads: see SenderThread below.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/worker.h"
#include "serial/comm_port.h"
#include "zmodem/sender_outlet.h"
#include "zmodem/zmodem.h"

namespace mfu {

// The sender's states, ZMSender::State: what the sender waits for. The values
// are fixed.
enum SenderStateId : std::int32_t {
  kSenderStarting = 0,      // "b" and ZRQINIT not yet out
  kAwaitZrinit = 1,         // ZRQINIT sent; the answer brings ZFILE
  kAwaitZrpos = 2,          // ZFILE sent; the answer brings the first block
  kAwaitBlockAck = 3,       // a block sent, more to come
  kAwaitLastBlockAck = 4,   // the last block sent; the answer brings ZEOF
  kAwaitEofZrinit = 5,      // ZEOF sent; the answer brings ZFIN
  kAwaitZfin = 6,           // ZFIN sent; the answer brings "OO" and the final test
};

// Time limits and read sizes of the exchange.
inline constexpr Millis kAnswerToBTimeout = 6000;
inline constexpr Millis kAnswerToZrqinitTimeout = 6000;
inline constexpr Millis kStepTimeout = 60000;
inline constexpr Millis kFinalAnswerTimeout = 50000;
inline constexpr std::uint32_t kHexHeaderRead = 21;

void ZMSenderInit(ZMSender& zm);

// What the modem is to answer in `zm`'s state: the step, and for a data block
// its number (the block sent last, counted from 1) and the image's blocks.
FailureCause AwaitedIn(const ZMSender& zm);

// The sender thread and what it drives: its three events, the port it
// writes frames to and reads answers from, and the flags its owner raises.
// Owned by the session; its destructor stops the thread (StopSender). The
// port outlives it (the session declares the port first).
//
// Threads: StartSender runs on the session monitor thread; StopSender and
// AbortSender on the window thread; SenderThreadHandle and SenderRests on
// any thread; the frame senders, WaitForModemRsp and ZMSenderStep on the
// sender thread (a test may call them where no sender thread runs).
class SenderThread {
 public:
  explicit SenderThread(CommPort& port) : port_(port) {}
  ~SenderThread() { StopSender(); }
  SenderThread(const SenderThread&) = delete;
  SenderThread& operator=(const SenderThread&) = delete;

  // The sender's events (automatic reset), created by StartSender, closed by
  // StopSender. Null while no sender exists.
  EventHandle QuitSenderEvent;
  EventHandle SenderErrorEvent;
  EventHandle SenderDataEvent;

  // 1 when the three events and the thread exist, else 0. The thread reports
  // through `outlet`, which must outlive it (until StopSender).
  int StartSender(SenderOutlet& outlet);
  // Asks the sender thread to end, waits up to 5000 ms, joins it, forgets it
  // and closes the events. Does nothing when no sender thread exists.
  void StopSender();
  // True from StartSender to StopSender: a sender thread exists.
  bool SenderThreadHandle() const { return exists_.load(); }

  // True while the sender has nothing left to do (it called its outlet's
  // Rests and has served no event since).
  bool SenderRests() const { return exists_.load() && rests_.load(); }

  // The user cancelled the update: the sender finishes a write under way,
  // arms no further read, sends ZABORT (hex header) and ends. A read it
  // waits in is cut short by a purge of the port after `grace` ms. True when
  // the thread ended within `limit` ms (StopSender joins it later). While
  // the port is still open.
  bool AbortSender(Millis grace, Millis limit);

  // Reads one answer (at most `max` bytes, `limit` ms) into
  // ModemResponseBuffer and sets SenderDataEvent when it came,
  // SenderErrorEvent when not (unless `silence_fails` is false: then a
  // missing answer is only a diagnostic).
  void WaitForModemRsp(Millis limit, std::uint32_t max, bool silence_fails = true);

  // One step per SenderDataEvent: tests the answer, sends the next frame and
  // arms the next read, or gives up with ZABORT.
  void ZMSenderStep(ZMSender& zm, SenderOutlet& outlet);

  bool SendZRQINIT(ZMSender& zm);
  // Asks `outlet` for the file, records it in `zm`, sets the progress range
  // through `outlet` (one step per 512-byte block) and sends ZFILE with the
  // file information. 1 when the frame went to the port, 0 when there is no
  // file (nothing sent, the progress bar untouched).
  std::int32_t SendZFILE(ZMSender& zm, SenderOutlet& outlet);
  // Steps the progress bar through `outlet` first.
  bool SendZDATA(ZMSender& zm, SenderOutlet& outlet, const std::uint8_t* block, std::int32_t length,
                 std::uint8_t frame_end);
  bool SendZEOF(ZMSender& zm);
  bool SendZFIN(ZMSender& zm);
  bool SendZABORT(ZMSender& zm);
  // "OO", then the flash loader's final answer as the outlet read it.
  std::span<const std::uint8_t> SendOverAndOut(SenderOutlet& outlet);

 private:
  // The thread's body: "b", ZRQINIT, then one step per answer until the quit.
  void Run(SenderOutlet& outlet);
  bool WriteFrame(ZMSender& zm);
  bool SendHexFrame(ZMSender& zm, std::uint8_t type);
  // Records why the session failed and raises the error.
  void Fail(const FailureCause& cause);
  // ZABORT, then Fail.
  void GiveUp(ZMSender& zm, const FailureCause& cause);
  void SendNextBlock(ZMSender& zm, SenderOutlet& outlet);
  // Arms the read of the answer that `zm`'s state waits for (StepTimeout,
  // one hex header).
  void AwaitAnswer(const ZMSender& zm);
  // Why the failure of the read just made: its limit passed (no answer to
  // what `awaiting_` names), or the read failed.
  FailureCause ReadFailureCause(int read_result, Millis limit) const;

  CommPort& port_;
  std::unique_ptr<Worker> thread_;
  std::atomic<bool> exists_{false};
  std::atomic<bool> rests_{false};
  // Set by AbortSender: no further read is armed, and the quit sends ZABORT.
  std::atomic<bool> abort_requested_{false};
  // What the read armed last waits for, and why the session failed. The
  // sender thread's own.
  FailureCause awaiting_;
  FailureCause cause_;
};

// The flash loader's verdict in the answer the final read delivered (up to its
// first zero byte, letter case ignored): true when a line holds "erfolgreich"
// with no "nicht" or "kein" before it in that line, and no line holds
// "fehlgeschlagen" or "error".
bool FinalAnswerReportsSuccess(const std::uint8_t* answer, std::uint32_t length);

}  // namespace mfu
