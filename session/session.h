// The update session as the window drives it: the connection procedure after
// start-up, the confirmed start, the cancel, and the stop when the window
// closes. One Session owns all of the session's state: the port (device,
// read count, interrupt flag, saved settings), the sender thread and the
// session monitor with their events, and what the connection procedure
// found.
//
// Lifetime: the session's events live in this object, and worker threads
// wait on them. The front-ends keep their Session (inside RealSession) as an
// automatic object of their run function, never as a static one: when the
// toolkit loses its display and calls exit() on the window thread, exit()
// destroys no automatic object, so no event is freed under a thread that may
// still wait on it. Every ordinary end stops the monitor and the sender
// (StopSessionMonitor, also run by the destructor) before anything here is
// destroyed. Members are declared so that the port outlives the sender and
// the sender outlives the monitor that starts it.
//
// Threads: the window thread calls everything, except where a member says
// "any thread".
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "serial/comm_port.h"
#include "session/monitor.h"
#include "zmodem/sender.h"

namespace mfu {

class Session {
 public:
  // `port_option` names the port to take without a search (--port); empty:
  // the search finds one.
  explicit Session(std::string port_option = {}) : port_option_(std::move(port_option)) {}
  ~Session() { StopSessionMonitor(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The connection procedure; runs once, as the handler of the start-up
  // message.
  void SetupCommPort();
  // True when the modem answered the download-mode command "a". Any thread.
  bool DownloadModeAnswered() const { return download_mode_answered_.load(); }

  // Cuts the connection procedure short (Ctrl-C during it): its reads and
  // pauses end at once and it returns. Any thread, while it runs; the next
  // procedure starts afresh.
  void InterruptConnectionProcedure() { port_.InterruptCommWaits(); }
  // True when the last connection procedure was cut short. Any thread.
  bool ConnectionProcedureInterrupted() const { return port_.CommWaitsInterrupted(); }

  // True while the session monitor thread exists. Any thread.
  bool SessionMonitorExists() const { return monitor_.SessionMonitorExists(); }
  // True while a sender thread exists (the user's start was served). Any
  // thread.
  bool SenderThreadHandle() const { return sender_.SenderThreadHandle(); }

  // The one answer to "is an update under way?": from the user's confirmed
  // start (SignalStartUpdate) until the run's outcome is decided (see
  // Outcome: the final answer came in, the session failed, or a cancel).
  // While it holds, closing asks first and a cancel is an interruption. Any
  // thread.
  bool UpdateUnderWay() const;
  // True when the run's outcome is a success. Any thread.
  bool UpdateSucceeded() const { return monitor_.LastOutcome() == Outcome::kSucceeded; }

  // The user confirmed the update: sets the start event (nothing while the
  // monitor does not run).
  void SignalStartUpdate();

  // The user cancels an update under way (UpdateUnderWay; the outcome is
  // decided as kCancelled here): the sender, when the monitor has started
  // it, sends ZABORT before the port closes, and the log says "Update wurde
  // unterbrochen!" with the retry hint. Does nothing otherwise: before the
  // confirmed start, and after the outcome was decided (the final answer came
  // in, or the session failed), whose verdict stays the run's. Before
  // StopSessionMonitor and after the window has stopped waiting for workers'
  // calls (its gate closed).
  void CancelUpdate();

  // Stops the monitor (which closes the port) and then the sender, each
  // within 5000 ms; closes the events.
  void StopSessionMonitor() { monitor_.StopSessionMonitor(); }

  // Writes the single byte "c": the modem leaves its download mode unflashed.
  bool WriteExitByte() { return port_.WriteToComm("c"); }

  // The parts, for tests that drive one of them directly.
  CommPort& Port() { return port_; }
  SenderThread& Sender() { return sender_; }
  SessionMonitor& Monitor() { return monitor_; }

 private:
  const std::string port_option_;
  CommPort port_;
  SenderThread sender_{port_};
  SessionMonitor monitor_{port_, sender_};
  // Whether the modem answered "a": a front-end that starts the update by
  // itself (--yes) must not flash a modem that never showed its download mode.
  std::atomic<bool> download_mode_answered_{false};
  // Whether the hint on ModemManager (text 29) was shown in this connection
  // procedure: once is enough. Window thread.
  bool modem_manager_told_ = false;
  // The user confirmed the start (SignalStartUpdate): from here until the
  // outcome is decided, a cancel is an interruption.
  std::atomic<bool> start_confirmed_{false};
};

}  // namespace mfu
