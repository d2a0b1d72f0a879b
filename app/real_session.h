// The window's view of the program's own session: it holds the one Session
// (session/session.h), which owns the port, the monitor and the sender. The
// front-ends keep a RealSession as an automatic object of their run
// function, as the Session's lifetime rule asks.
//
// Threads: SetupCommPort runs on the window controller's worker when the
// window asks for it (app/update_dialog.h); meanwhile the window thread calls
// only InterruptConnection, and everything else after the worker was joined.
#pragma once

#include <string>

#include "app/update_dialog.h"
#include "session/session.h"

namespace mfu {

class RealSession final : public SessionControl {
 public:
  // `port_option`: the port --port named (empty: the search finds one).
  explicit RealSession(std::string port_option = {}) : session_(std::move(port_option)) {}

  void SetupCommPort() override { session_.SetupCommPort(); }
  bool MonitorExists() override { return session_.SessionMonitorExists(); }
  bool DownloadModeAnswered() override { return session_.DownloadModeAnswered(); }
  void InterruptConnection() override { session_.InterruptConnectionProcedure(); }
  bool SenderThreadHandle() override { return session_.SenderThreadHandle(); }
  bool UpdateUnderWay() override { return session_.UpdateUnderWay(); }
  bool UpdateSucceeded() override { return session_.UpdateSucceeded(); }
  void SignalStartUpdate() override { session_.SignalStartUpdate(); }
  void CancelUpdate() override { session_.CancelUpdate(); }
  void StopSessionMonitor() override { session_.StopSessionMonitor(); }
  void WriteExitByte() override { (void)session_.WriteExitByte(); }

 private:
  Session session_;
};

}  // namespace mfu
