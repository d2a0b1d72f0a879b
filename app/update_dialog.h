// The update window's behaviour, apart from any toolkit: the start-up, the
// four buttons, Esc and the close box. The Qt window and the Win32 dialog
// build the controls and forward their events here. Window thread only,
// except where a member says otherwise.
//
// The connection procedure (the search, the open, the pause and the two
// download-mode commands) waits up to 100 s for a silent modem. A window
// whose view asks for it (DialogView::ConnectOnWorker) runs it on a worker
// thread of this controller, so that the window thread stays in its one event
// loop and "Beenden", Esc, the close box and SIGTERM are served at once: they
// interrupt the procedure's waits (SessionControl::InterruptConnection), and
// the window closes when the worker has returned (OnConnectionEnded). Every
// other command that comes meanwhile ("Update Starten", "Hilfe", "Log
// Speichern") waits until the procedure has returned, as a window whose thread
// is held by it would have it; a close request drops them.
//
// Why a worker and not a wait on the window thread that lets only the close
// requests through: such a wait is a nested event loop inside the handler of
// the start-up message, in which whatever the toolkit delivers (timers, the
// gate's calls, signal notifiers, its own internal events) runs inside the
// procedure, and the filter that keeps the user's other input out must be
// written anew for each toolkit (a close box is a WM_SYSCOMMAND, a WM_CLOSE or
// an IDCANCEL on Win32, a close event or a key on Qt). With the worker the
// window thread never nests: each request is one ordinary handler that only
// records and interrupts, the procedure's window calls reach the window
// through its WindowGate (which lets them go once the window closes), and the
// stop of the session runs only after the worker has been joined, so the
// procedure and the stop never touch the session at once.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/worker.h"
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
  // True when the connection procedure must leave the window thread free: the
  // controller runs it on a worker and PostConnectionEnded brings its end
  // back. False (a front-end without an event loop of its own, the console):
  // it runs inside OnStartupMessage.
  virtual bool ConnectOnWorker() const { return false; }
  // Called on the procedure's worker as its last act: make the window thread
  // call UpdateDialog::OnConnectionEnded soon. Must post only, never run it,
  // and must be delivered also once the window is closing (it does not go
  // through the WindowGate, which drops calls then).
  virtual void PostConnectionEnded() {}
};

inline constexpr int kDialogOk = 1;      // IDOK
inline constexpr int kDialogCancel = 2;  // IDCANCEL

class UpdateDialog {
 public:
  UpdateDialog(Window& window, DialogView& view, SessionControl& session);
  // A procedure still running is interrupted and joined; its owner should
  // have done so with EndConnectionProcedure while its view and gate lived.
  ~UpdateDialog();
  UpdateDialog(const UpdateDialog&) = delete;
  UpdateDialog& operator=(const UpdateDialog&) = delete;

  // Initial button states, then the start-up message is posted.
  void OnInitDialog();
  // The start-up message: the connection procedure, on a worker when the view
  // asks for it (see the top of this file).
  void OnStartupMessage();
  // The procedure's worker has returned (DialogView::PostConnectionEnded):
  // joins it, then carries out the close requested meanwhile, or else the
  // commands that waited for the procedure. Nothing when no worker runs.
  void OnConnectionEnded();
  // True while the procedure runs on its worker.
  bool Connecting() const { return connecting_; }
  // Interrupts a procedure still running on its worker and joins it. Window
  // thread, after the view's gate has closed (BeginClosing), so that the
  // worker can wait on nothing of the window meanwhile.
  void EndConnectionProcedure();
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
  // no update started (also when a close cut the procedure short), the
  // update's outcome.
  int ExitStatus() const;

 private:
  enum class CloseRequest { kNone, kOk, kCancel, kTerminate };
  void Close(int result, bool cancel_update);
  // A close request while the procedure runs on its worker: recorded (the
  // first one counts) and the procedure interrupted.
  void RequestCloseWhileConnecting(CloseRequest request);
  // A command that waits for the procedure's end (kIdStartUpdate, kIdHelp,
  // kIdSaveLog); each at most once, in the order of their first arrival.
  void Defer(int id);
  void RunCommand(int id);

  Window& window_;
  DialogView& view_;
  SessionControl& session_;
  bool startup_done_ = false;
  bool connected_ = false;  // the connection procedure left a monitor running
  bool update_started_ = false;
  bool closing_ = false;
  // The procedure's worker: started by OnStartupMessage, joined on the window
  // thread only (OnConnectionEnded, EndConnectionProcedure, the destructor).
  // It touches only the session and the view's PostConnectionEnded; the
  // fields below are the window thread's.
  Worker connection_worker_;
  bool connecting_ = false;
  bool interrupted_ = false;  // a close request cut the procedure short
  CloseRequest close_request_ = CloseRequest::kNone;
  std::vector<int> deferred_;
  LogExport log_export_;  // the path it remembers lasts as long as the window
};

}  // namespace mfu
