// The window's view of the program's own session (session/, serial/).
#pragma once

#include "app/update_dialog.h"

namespace mfu {

class RealSession final : public SessionControl {
 public:
  void SetupCommPort() override;
  bool MonitorExists() override;
  bool DownloadModeAnswered() override;
  void InterruptConnection() override;
  bool SenderThreadHandle() override;
  std::int32_t SenderState() override;
  bool UpdateSucceeded() override;
  void SignalStartUpdate() override;
  void CancelUpdate() override;
  void StopSessionMonitor() override;
  void WriteExitByte() override;
};

}  // namespace mfu
