#include "app/real_session.h"

#include "serial/comm_port.h"
#include "session/monitor.h"
#include "session/session.h"

namespace mfu {

void RealSession::SetupCommPort() { mfu::SetupCommPort(); }
bool RealSession::MonitorExists() { return SessionMonitorExists(); }
bool RealSession::SenderExists() { return SenderThreadExists(); }
std::int32_t RealSession::SenderState() { return mfu::SenderState(); }
void RealSession::SignalStartUpdate() { mfu::SignalStartUpdate(); }
void RealSession::StopSessionMonitor() { mfu::StopSessionMonitor(); }
void RealSession::WriteExitByte() { WriteToComm("c"); }

}  // namespace mfu
