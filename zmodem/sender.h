// The stop-and-wait ZMODEM sender: one file, every block of at most 512 bytes
// in a ZDATA frame of its own ending in ZCRCW, the next block only after the
// modem's ZACK; any other answer ends the session with ZABORT, a missing one
// without. The sender thread drives the record one step per answer.
//
// The sender reports upward only through the SenderOutlet it is started with.
//
// Threads: StartSender runs on the session monitor thread, StopSender on the
// window thread, everything else on the sender thread.
#pragma once

#include <cstdint>
#include <span>

#include "platform/clock.h"
#include "platform/event.h"
#include "zmodem/sender_outlet.h"
#include "zmodem/zmodem.h"

namespace mfu {

// The sender's states, ZMSender::State: what the sender waits for. The values
// are fixed: the window's cancel question tests for kSenderStarting (0).
enum SenderStateId : std::int32_t {
  kSenderStarting = 0,      // "b" and ZRQINIT not yet out
  kAwaitZrinit = 1,         // ZRQINIT sent; the answer brings ZFILE
  kAwaitZrpos = 2,          // ZFILE sent; the answer brings the first block
  kAwaitBlockAck = 3,       // a block sent, more to come
  kAwaitLastBlockAck = 4,   // the last block sent; the answer brings ZEOF
  kAwaitEofZrinit = 5,      // ZEOF sent; the answer brings ZFIN
  kAwaitZfin = 6,           // ZFIN sent; the answer brings "OO" and the final test
};

// The sender's events (automatic reset), created by StartSender, closed by
// StopSender; their handles are never destroyed (ProgramLifetime).
extern EventHandle& QuitSenderEvent;
extern EventHandle& SenderErrorEvent;
extern EventHandle& SenderDataEvent;

// Time limits and read sizes of the exchange.
inline constexpr Millis kAnswerToBTimeout = 6000;
inline constexpr Millis kAnswerToZrqinitTimeout = 6000;
inline constexpr Millis kStepTimeout = 60000;
inline constexpr Millis kFinalAnswerTimeout = 50000;
inline constexpr std::uint32_t kHexHeaderRead = 21;

// 1 when the three events and the thread exist, else 0. The thread reports
// through `outlet`, which must outlive it (until StopSender).
int StartSender(SenderOutlet& outlet);
// Asks the sender thread to end, waits up to 5000 ms, joins it, forgets it
// and closes the events. Does nothing when no sender thread exists.
void StopSender();
// True from StartSender to StopSender: a sender thread exists. Any thread.
bool SenderThreadHandle();

// True while the sender has nothing left to do (it called its outlet's
// Rests and has served no event since). Any thread.
bool SenderRests();

// The user cancelled the update: the sender finishes a write under way,
// arms no further read, sends ZABORT (hex header) and ends. A read it waits
// in is cut short by a purge of the port after `grace` ms. True when the
// thread ended within `limit` ms (StopSender joins it later). Window thread,
// while the port is still open.
bool AbortSender(Millis grace, Millis limit);

// Reads one answer (at most `max` bytes, `limit` ms) into ModemResponseBuffer
// and sets SenderDataEvent when it came, SenderErrorEvent when not (unless
// `silence_fails` is false: then a missing answer is only a diagnostic).
void WaitForModemRsp(Millis limit, std::uint32_t max, bool silence_fails = true);

void ZMSenderInit(ZMSender& zm);
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

// The flash loader's verdict in the answer the final read delivered (up to its
// first zero byte, letter case ignored): true when a line holds "erfolgreich"
// with no "nicht" or "kein" before it in that line, and no line holds
// "fehlgeschlagen" or "error".
bool FinalAnswerReportsSuccess(const std::uint8_t* answer, std::uint32_t length);

}  // namespace mfu
