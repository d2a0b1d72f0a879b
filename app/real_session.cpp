#include "app/real_session.h"

#include "serial/comm_port.h"
#include "session/monitor.h"
#include "session/session.h"

namespace mfu {

void RealSession::SetupCommPort() { mfu::SetupCommPort(); }
bool RealSession::MonitorExists() { return SessionMonitorExists(); }
bool RealSession::DownloadModeAnswered() { return mfu::DownloadModeAnswered(); }
void RealSession::InterruptConnection() { InterruptConnectionProcedure(); }
bool RealSession::SenderThreadHandle() { return mfu::SenderThreadHandle(); }
std::int32_t RealSession::SenderState() { return mfu::SenderState(); }
bool RealSession::UpdateSucceeded() { return LastOutcome() == Outcome::kSucceeded; }
void RealSession::SignalStartUpdate() { mfu::SignalStartUpdate(); }
void RealSession::CancelUpdate() { mfu::CancelUpdate(); }
void RealSession::StopSessionMonitor() { mfu::StopSessionMonitor(); }
void RealSession::WriteExitByte() { WriteToComm("c"); }

}  // namespace mfu
