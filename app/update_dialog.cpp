#include "app/update_dialog.h"

#include "app/exit_status.h"
#include "platform/diag.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "ui/log.h"
#include "ui/log_export.h"

namespace mfu {

namespace {

// The procedure's waits end at once on the interrupt; what is left (opening
// a port, a write of a few bytes) is short. The limit only bounds the wait
// before the overrun is reported: the join itself still waits for the end.
constexpr Millis kConnectionJoinLimit = 5000;

}  // namespace

UpdateDialog::UpdateDialog(Window& window, DialogView& view, SessionControl& session)
    : window_(window), view_(view), session_(session) {}

UpdateDialog::~UpdateDialog() {
  if (connecting_) session_.InterruptConnection();
  (void)connection_worker_.Join(kConnectionJoinLimit);
}

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
  if (view_.ConnectOnWorker()) {
    connecting_ = true;
    if (connection_worker_.Start([this] {
          session_.SetupCommPort();
          view_.PostConnectionEnded();
        })) {
      return;
    }
    // No thread to be had: the procedure holds the window thread instead, as
    // in a front-end without a loop of its own.
    Diag("No thread for the connection procedure: it runs on the window thread\n");
    connecting_ = false;
  }
  session_.SetupCommPort();
  connected_ = session_.MonitorExists();
}

void UpdateDialog::OnConnectionEnded() {
  if (!connecting_) return;
  if (!connection_worker_.Join(kConnectionJoinLimit)) Diag("The connection procedure ended late\n");
  connecting_ = false;
  connected_ = session_.MonitorExists();
  const CloseRequest request = close_request_;
  close_request_ = CloseRequest::kNone;
  switch (request) {
    case CloseRequest::kOk:
      OnOK();
      return;
    case CloseRequest::kCancel:
      OnCancel();
      return;
    case CloseRequest::kTerminate:
      OnTerminate();
      return;
    case CloseRequest::kNone:
      break;
  }
  std::vector<int> waiting;
  waiting.swap(deferred_);
  for (const int id : waiting) {
    if (closing_) break;
    RunCommand(id);
  }
}

void UpdateDialog::EndConnectionProcedure() {
  if (!connecting_) return;
  session_.InterruptConnection();
  if (!connection_worker_.Join(kConnectionJoinLimit)) Diag("The connection procedure ended late\n");
  connecting_ = false;
  connected_ = session_.MonitorExists();
}

void UpdateDialog::RequestCloseWhileConnecting(CloseRequest request) {
  if (close_request_ == CloseRequest::kNone) close_request_ = request;
  interrupted_ = true;
  deferred_.clear();
  session_.InterruptConnection();
}

void UpdateDialog::Defer(int id) {
  if (close_request_ != CloseRequest::kNone) return;
  for (const int waiting : deferred_) {
    if (waiting == id) return;
  }
  deferred_.push_back(id);
}

void UpdateDialog::RunCommand(int id) {
  switch (id) {
    case kIdStartUpdate:
      OnStartUpdate();
      break;
    case kIdHelp:
      OnHelpButton();
      break;
    case kIdSaveLog:
      OnSaveLog();
      break;
    default:
      break;
  }
}

void UpdateDialog::OnStartUpdate() {
  if (closing_) return;
  // The sender must not start while the procedure still reads the modem's
  // answers on the same port.
  if (connecting_) {
    Defer(kIdStartUpdate);
    return;
  }
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
  // The first lines of the procedure come before any command is served.
  if (connecting_) {
    Defer(kIdHelp);
    return;
  }
  const std::string help = HelpText();
  window_.ShowNotice(help.c_str());
}

void UpdateDialog::OnSaveLog() {
  if (closing_) return;
  if (connecting_) {
    Defer(kIdSaveLog);
    return;
  }
  log_export_.OnSaveLog();
}

void UpdateDialog::OnOK() {
  if (closing_) return;
  // The "c" waits until the procedure has returned: only then is it known
  // whether the modem was brought into download mode.
  if (connecting_) {
    RequestCloseWhileConnecting(CloseRequest::kOk);
    return;
  }
  // In download mode with no update started: "c" lets the modem leave it.
  if (session_.MonitorExists() && !session_.SenderThreadHandle()) session_.WriteExitByte();
  Close(kDialogOk, false);
}

void UpdateDialog::OnTerminate() {
  if (closing_) return;
  if (connecting_) {
    RequestCloseWhileConnecting(CloseRequest::kTerminate);
    return;
  }
  Close(kDialogCancel, true);
}

void UpdateDialog::OnSessionRests() {
  if (closing_) return;
  if (connecting_) {
    RequestCloseWhileConnecting(CloseRequest::kOk);
    return;
  }
  Close(kDialogOk, false);
}

int UpdateDialog::ExitStatus() const {
  // Closed during the search or the connection: the user declined, whatever
  // the procedure had found by then.
  if (interrupted_ && !update_started_) return kExitDeclined;
  if (!connected_) return kExitNoModem;
  if (!update_started_) return kExitDeclined;
  return session_.UpdateSucceeded() ? kExitSucceeded : kExitFailed;
}

void UpdateDialog::OnCancel() {
  if (closing_) return;
  if (connecting_) {
    RequestCloseWhileConnecting(CloseRequest::kCancel);
    return;
  }
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
  // With the gate closed the procedure's worker waits on nothing of the
  // window, so it can be joined here before the session is stopped.
  EndConnectionProcedure();
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
