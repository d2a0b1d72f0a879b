// The one serial port the program talks through: open at 57600 bit/s 8N1 with
// RTS handshake and DTR on (and a 100 ms DTR drop on every open), write
// without time limit, read one burst of the modem's answer within the
// caller's limit, and on close give the port back the settings it had.
//
// Threads: the window thread (connection procedure, exit byte), the session
// monitor (the close when it stops) and the sender thread (frames and
// answers) all use one CommPort. One read at a time; a read and a write may
// overlap; CloseCommPort from another thread ends a read or write in
// progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/clock.h"
#include "platform/event.h"
#include "serial/serial_device.h"

namespace mfu {

inline constexpr std::uint32_t kModemResponseBufferSize = 4096;

// Every answer of the modem lands here, from the probe to the ZMODEM headers.
// A read neither clears it nor adds a terminator: an answer is exactly the
// bytes the read returned at its start. One reader at a time: the window
// thread until the monitor starts, then the sender thread.
extern std::uint8_t ModemResponseBuffer[kModemResponseBufferSize];

// The opening steps of OpenCommPort around its DTR drop, for a caller that
// opens several ports at once and keeps each port's settings itself (the
// quick scan): BeginPortOpen saves the line settings into `save_state` (or,
// when null, builds the working ones from `working_from`), applies them and
// drops DTR; after kDtrDropMs, EndPortOpen raises DTR, saves the timeouts
// into `save_timeouts` when not null, applies the working ones and purges.
inline constexpr Millis kDtrDropMs = 100;
void BeginPortOpen(SerialDevice& port, PortSettings* save_state, const PortSettings& working_from);
void EndPortOpen(SerialDevice& port, PortSettings* save_timeouts);

// Hears the long waits of the search and the connection procedure, so that
// the user sees them count down: Waiting(left) when a read or a pause begins
// to wait and after each further program second of it, with the program ms
// of its limit still left. Called on the waiting thread; must not block.
class WaitTicker {
 public:
  virtual ~WaitTicker() = default;
  virtual void Waiting(Millis left) = 0;
};

// How often a ticked wait reports: once a program second.
inline constexpr Millis kWaitTickMs = 1000;

// The port a session talks through: the open device, the count of its latest
// read, the settings it had before the first open, the flag that cuts the
// connection procedure's waits short, and the events of its reads and writes.
// Owned by the session (or by a test); it closes the port when destroyed.
class CommPort {
 public:
  CommPort() = default;
  ~CommPort();
  CommPort(const CommPort&) = delete;
  CommPort& operator=(const CommPort&) = delete;

  // The open port, or nullptr. Callers store OpenCommPort's result here.
  SerialHandle PortHandle() const;
  void SetPortHandle(SerialHandle handle);

  // Bytes delivered by the latest read (0 when a read starts).
  std::uint32_t LastReadCount() const { return last_read_count_.load(); }

  // Why the latest read delivered nothing: the error that ended it (no port:
  // kErrorInvalidHandle), kErrorSuccess when it did not fail (it delivered,
  // or its limit passed). Only the thread that reads asks.
  struct ReadFailure {
    std::uint32_t error = kErrorSuccess;
    int system_error = 0;
  };
  ReadFailure LastReadFailure() const { return last_read_failure_; }

  // The manual-reset events of every read and write; created by the probe and
  // by the session monitor's start, closed by them. Null while none exist.
  // Written only while no other thread uses the port.
  EventHandle ReadCompleteEvent;
  EventHandle WriteCompleteEvent;

  // Opens and configures a port; nullptr when it cannot be opened (nothing is
  // saved then), with the reason in `failure`. Does not set PortHandle. The
  // settings the first open finds are kept until CloseCommPort gives them
  // back.
  SerialHandle OpenCommPort(const char* port_name);
  SerialHandle OpenCommPort(const char* port_name, OpenFailure& failure);

  // Drops what the modem sent and nobody has read yet (PurgeComm on
  // PortHandle). A completed write is not touched. false when no port is
  // open or the purge failed.
  bool PurgeCommInput();

  // Purges, restores the saved timeouts and line settings, closes PortHandle
  // and clears it. Does nothing when no port is open.
  void CloseCommPort();

  // Writes `count` bytes to PortHandle and waits until they are written (no
  // time limit). true when exactly `count` bytes went out.
  bool WriteToComm(const std::uint8_t* data, std::int32_t count);
  bool WriteToComm(const char* text);  // the NUL-terminated text's bytes

  // Reads at most `max` bytes into `buffer` within `limit` ms: the read ends
  // when `max` bytes are in or 250 ms pass without a further byte, and the
  // limit bounds the whole read, so a line that keeps dribbling cannot
  // stretch it. Returns the count (> 0), 0 when nothing was read (no port, or
  // the read failed), or -1 when the limit passed before the read ended
  // ("READ TIMEOUT"), whether or not bytes had begun to arrive; the read then
  // stays pending on the port with its bytes, for GetOverlappedReadResult or
  // the next read.
  int ReadFromComm(std::uint8_t* buffer, std::uint32_t max, Millis limit);

  // Cuts the waits of the connection procedure short (Ctrl-C while the modem
  // is searched for or brought into download mode): a read waiting on
  // PortHandle ends at once, and later reads and pauses return at once,
  // until ClearCommInterrupt. Any thread.
  void InterruptCommWaits();
  bool CommWaitsInterrupted() const { return waits_interrupted_.load(); }
  void ClearCommInterrupt();
  // Pauses `ms` program ms, or less when the waits are interrupted.
  void PauseComm(Millis ms);

  // The ticker told of ReadFromComm's and PauseComm's waits (nullptr: none;
  // reads without a limit are not ticked). The caller owns it and sets it,
  // and clears it before it goes, while no other thread reads or pauses on
  // this port (the search and the connection procedure, on the window
  // thread).
  void SetWaitTicker(WaitTicker* ticker) { ticker_.store(ticker); }
  WaitTicker* CurrentWaitTicker() const { return ticker_.load(); }
  // After a read that timed out (-1) with bytes already in it: ends that read
  // now and delivers the bytes it had taken into `buffer` (at most `max`),
  // without waiting for the rest of a burst that outlasts the limit. 0 when
  // it had none; the read then stays armed as it was. The reading thread.
  std::uint32_t CollectTimedOutRead(std::uint8_t* buffer, std::uint32_t max);

  // GetOverlappedResult on the pending read of PortHandle, without waiting:
  // true with LastReadCount() set to the read's count, or false with `error`
  // (kErrorIoIncomplete while the read has no bytes yet).
  bool GetOverlappedReadResult(std::uint32_t& error);

  // GetCommModemStatus on PortHandle; false when it fails or no port is open.
  bool GetCommModemStatus(std::uint32_t& bits);

  // Zeroes the read record (a fresh record for the probe and the session).
  void ResetReadRecord() { last_read_count_.store(0); }

 private:
  // WaitRead on `port` within `limit`, told to the ticker once a second.
  bool WaitReadTicking(SerialDevice& port, Millis limit);

  struct SavedSettings {
    PortSettings settings;
    bool saved = false;
  };

  // The handle is read by the sender thread while the monitor thread may
  // close it: every user takes its own reference under the lock, so the
  // device lives until the last call on it has returned, and Close() ends a
  // blocked call.
  mutable std::mutex port_lock_;
  SerialHandle port_;
  std::atomic<std::uint32_t> last_read_count_{0};
  // Written and read by the one thread that reads.
  ReadFailure last_read_failure_;

  // Open and close run on one thread at a time (window thread, then
  // monitor), but never at once with each other; the lock keeps that honest.
  std::mutex saved_lock_;
  SavedSettings SavedPortState;     // line settings of the first open
  SavedSettings SavedPortTimeouts;  // timeouts of the first open

  // Set by InterruptCommWaits: reads and pauses of the connection procedure
  // end at once. With an event, so that a pause can wait on it.
  std::atomic<bool> waits_interrupted_{false};
  std::atomic<WaitTicker*> ticker_{nullptr};
  Event interrupt_event_{Event::Reset::kManual};
};

}  // namespace mfu
