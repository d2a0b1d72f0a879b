// The update window's behaviour, apart from any toolkit: the start-up, the
// four buttons, Esc and the close box. The Qt window and the Win32 dialog
// build the controls and forward their events here. Window thread only.
#pragma once

#include <cstdint>

#include "ui/log_export.h"
#include "ui/window.h"

namespace mfu {

// The session as the window drives it. The program's own implementation
// (RealSession) holds a Session (session/session.h); tests use fakes.
struct SessionControl {
  virtual ~SessionControl() = default;
  // The connection procedure; runs once as the handler of the start-up message.
  virtual void SetupCommPort() = 0;
  virtual bool MonitorExists() = 0;
  // True when the modem answered the download-mode command.
  virtual bool DownloadModeAnswered() = 0;
  // Cuts the connection procedure short; any thread, while it runs.
  virtual void InterruptConnection() = 0;
  // True while a sender thread exists (the user's start was served).
  virtual bool SenderThreadHandle() = 0;
  // The session's one answer to "is an update under way?": closing then
  // asks first.
  virtual bool UpdateUnderWay() = 0;
  // True when the session's last reported outcome is a success.
  virtual bool UpdateSucceeded() = 0;
  // The user confirmed the update.
  virtual void SignalStartUpdate() = 0;
  // An update still under way is cancelled: ZABORT to the modem, the
  // interruption and the retry hint in the log. Nothing otherwise.
  virtual void CancelUpdate() = 0;
  // Stops the monitor (which closes the port), then the sender.
  virtual void StopSessionMonitor() = 0;
  // Writes the single byte "c" to the modem: leave download mode unflashed.
  virtual void WriteExitByte() = 0;
};

// What the controller needs of the toolkit window beyond mfu::Window.
struct DialogView {
  virtual ~DialogView() = default;
  // Queue the start-up message behind nothing but what is already queued, so
  // that it is handled before any input of the user.
  virtual void PostStartupMessage() = 0;
  // From now on, calls of worker threads must be released at once
  // (WindowGate::Close); comes before the session is stopped.
  virtual void BeginClosing() = 0;
  // Ends the modal run with `result` (kDialogOk or kDialogCancel).
  virtual void CloseWindow(int result) = 0;
};

inline constexpr int kDialogOk = 1;      // IDOK
inline constexpr int kDialogCancel = 2;  // IDCANCEL

class UpdateDialog {
 public:
  UpdateDialog(Window& window, DialogView& view, SessionControl& session);

  // Initial button states, then the start-up message is posted.
  void OnInitDialog();
  // The start-up message: the connection procedure.
  void OnStartupMessage();
  // "Update Starten" (kIdStartUpdate).
  void OnStartUpdate();
  // "Hilfe" (kIdHelp).
  void OnHelpButton();
  // "Log Speichern" (kIdSaveLog).
  void OnSaveLog();
  // "Beenden" (kIdBeenden, the default button, Enter).
  void OnOK();
  // Esc, the close box, Close in the system menu.
  void OnCancel();
  // A request from outside to end (SIGTERM): the close box with its question
  // taken as answered Yes, for nobody may be there to answer it.
  void OnTerminate();
  // The session has nothing left to do (Window::SessionRests). A front-end
  // that ends by itself (the console) closes with it, as "Beenden" does.
  void OnSessionRests();

  // The program is ending under the window without a close: the toolkit lost
  // its display and calls exit() on this thread. Lets the workers go and stops
  // the session as a close does (the monitor closes the port and restores its
  // settings, the sender is joined), but leaves the window alone, which the
  // toolkit can no longer show. Does nothing once the dialog is closing, so a
  // normal close is never stopped twice.
  void OnProgramExit();

  // True once the dialog has decided to close.
  bool Closing() const { return closing_; }
  // True once the user has confirmed the start of the update.
  bool UpdateStarted() const { return update_started_; }
  // How the run went, as the program's exit status (kExit*): no connection,
  // no update started, the update's outcome.
  int ExitStatus() const;

 private:
  void Close(int result, bool cancel_update);

  Window& window_;
  DialogView& view_;
  SessionControl& session_;
  bool startup_done_ = false;
  bool connected_ = false;  // the connection procedure left a monitor running
  bool update_started_ = false;
  bool closing_ = false;
  LogExport log_export_;  // the path it remembers lasts as long as the window
};

}  // namespace mfu
