// The stop-and-wait ZMODEM sender: one file, every block of at most 512 bytes
// in a ZDATA frame of its own ending in ZCRCW, the next block only after the
// modem's ZACK; any other answer ends the session with ZABORT, a missing one
// without. The sender thread drives the record one step per answer.
//
// Threads: StartSender runs on the session monitor thread, StopSender on the
// window thread, everything else on the sender thread.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "platform/event.h"
#include "zmodem/zmodem.h"

namespace mfu {

// The sender's events (automatic reset), created by StartSender, closed by
// StopSender.
extern EventHandle QuitSenderEvent;
extern EventHandle SenderErrorEvent;
extern EventHandle SenderDataEvent;

// Time limits and read sizes of the exchange.
inline constexpr Millis kAnswerToBTimeout = 6000;
inline constexpr Millis kAnswerToZrqinitTimeout = 6000;
inline constexpr Millis kStepTimeout = 60000;
inline constexpr Millis kFinalAnswerTimeout = 50000;
inline constexpr std::uint32_t kHexHeaderRead = 21;

// 1 when the three events and the thread exist, else 0.
int StartSender();
// Asks the sender thread to end, waits up to 5000 ms, joins it, forgets it
// and closes the events. Does nothing when no sender thread exists.
void StopSender();
// True from StartSender to StopSender.
bool SenderThreadHandle();

// Reads one answer (at most `max` bytes, `limit` ms) into ModemResponseBuffer
// and sets SenderDataEvent when it came, SenderErrorEvent when not.
void WaitForModemRsp(Millis limit, std::uint32_t max);

void ZMSenderInit(ZMSender& zm);
void ZMSenderStep(ZMSender& zm);

bool SendZRQINIT(ZMSender& zm);
bool SendZDATA(ZMSender& zm, const std::uint8_t* block, std::int32_t length, std::uint8_t frame_end);
bool SendZEOF(ZMSender& zm);
bool SendZFIN(ZMSender& zm);
bool SendZABORT(ZMSender& zm);
void SendOverAndOut();

// True when the answer the final read delivered holds "erfolgreich" before
// its first zero byte.
bool FinalAnswerReportsSuccess(const std::uint8_t* answer, std::uint32_t length);

// For front-ends that end when the session has nothing left to do: waits
// until the sender thread has served every event raised so far and would
// wait for a new one that no armed read can bring (the session has ended,
// given up, or timed out). Returns false when `limit` passed first or no
// sender exists. Any thread but the sender's.
bool WaitUntilSenderIdle(Millis limit);

}  // namespace mfu
