#include "app/update_dialog.h"

#include "app/exit_status.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "ui/log.h"
#include "ui/log_export.h"

namespace mfu {

UpdateDialog::UpdateDialog(Window& window, DialogView& view, SessionControl& session)
    : window_(window), view_(view), session_(session) {}

void UpdateDialog::OnInitDialog() {
  // "Update Starten" waits for the connection procedure to start the monitor.
  window_.EnableButton(kIdStartUpdate, false);
  window_.EnableButton(kIdHelp, true);
  window_.EnableButton(kIdSaveLog, true);
  window_.EnableButton(kIdBeenden, true);
  view_.PostStartupMessage();
}

void UpdateDialog::OnStartupMessage() {
  // The connection procedure runs once per program run, even if a toolkit
  // delivered the message twice.
  if (startup_done_ || closing_) return;
  startup_done_ = true;
  session_.SetupCommPort();
  connected_ = session_.MonitorExists();
}

void UpdateDialog::OnStartUpdate() {
  if (closing_) return;
  char message[kMessageBufferSize];
  LoadText(kTextAskStartUpdate, message, kMessageBufferSize);
  if (!window_.AskYesNo(message)) return;
  update_started_ = true;
  window_.EnableButton(kIdStartUpdate, false);
  window_.EnableButton(kIdHelp, false);
  window_.EnableButton(kIdSaveLog, false);
  window_.EnableButton(kIdBeenden, false);
  session_.SignalStartUpdate();
}

void UpdateDialog::OnHelpButton() {
  if (closing_) return;
  const std::string help = HelpText();
  window_.ShowNotice(help.c_str());
}

void UpdateDialog::OnSaveLog() {
  if (closing_) return;
  log_export_.OnSaveLog();
}

void UpdateDialog::OnOK() {
  if (closing_) return;
  // In download mode with no update started: "c" lets the modem leave it.
  if (session_.MonitorExists() && !session_.SenderThreadHandle()) session_.WriteExitByte();
  Close(kDialogOk, false);
}

void UpdateDialog::OnTerminate() {
  if (closing_) return;
  Close(kDialogCancel, true);
}

void UpdateDialog::OnSessionRests() {
  if (closing_) return;
  Close(kDialogOk, false);
}

int UpdateDialog::ExitStatus() const {
  if (!connected_) return kExitNoModem;
  if (!update_started_) return kExitDeclined;
  return session_.UpdateSucceeded() ? kExitSucceeded : kExitFailed;
}

void UpdateDialog::OnCancel() {
  if (closing_) return;
  // Once the update is under way it must not be cut without asking.
  if (session_.UpdateUnderWay()) {
    char message[kMessageBufferSize];
    LoadText(kTextAskCancelRunning, message, kMessageBufferSize);
    // A reflex Enter during the long transfer must not cut it.
    if (!window_.AskYesNoDefaultNo(message)) return;
  }
  Close(kDialogCancel, true);
}

void UpdateDialog::OnProgramExit() {
  if (closing_) return;
  closing_ = true;
  view_.BeginClosing();
  session_.StopSessionMonitor();
}

void UpdateDialog::Close(int result, bool cancel_update) {
  closing_ = true;
  // Workers blocked in a window call must be let go before the stop waits
  // for them to end.
  view_.BeginClosing();
  // A flash cut short is told to the modem and to the user before the port
  // closes.
  if (cancel_update) session_.CancelUpdate();
  session_.StopSessionMonitor();
  view_.CloseWindow(result);
}

}  // namespace mfu
