// A session that finds no modem: the start lines and "no modem found", and
// nothing else. Lets the window run before the real session is linked in.
#pragma once

#include "app/update_dialog.h"

namespace mfu {

class PlaceholderSession : public SessionControl {
 public:
  void SetupCommPort() override;
  bool MonitorExists() override { return false; }
  bool DownloadModeAnswered() override { return true; }
  void InterruptConnection() override {}
  bool SenderThreadHandle() override { return false; }
  std::int32_t SenderState() override { return 0; }
  bool UpdateSucceeded() override { return false; }
  void SignalStartUpdate() override {}
  void CancelUpdate() override {}
  void StopSessionMonitor() override {}
  void WriteExitByte() override {}
};

}  // namespace mfu
