// The update window on plain Win32: dialog template 102 run modally by
// DialogBoxParamA, its controls reached by their ids. It is the program's
// mfu::Window (the log pane, the buttons, the progress bar, the message boxes,
// the file dialog) and the controller's DialogView; commands go to the
// portable UpdateDialog.
//
// Threads: the dialog belongs to the thread that runs Run(). The connection
// procedure runs on the controller's worker (see app/update_dialog.h); Run()
// joins it before it returns, so `dialog_`, which that worker reads to post
// its end, is never cleared under it. Worker threads
// reach it through a WindowGate: each call is posted to the dialog (a private
// message wakes the gate) and the worker waits until the dialog's thread has
// carried it out, as with a synchronous window message; once the window is
// closing the gate lets every worker go at once, so the stop procedure can
// never be held up by a worker stuck in a window call (a plain SendMessage
// from a worker could be).
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "app/update_dialog.h"
#include "ui/window.h"
#include "ui/window_gate.h"

namespace mfu {

inline constexpr int kDialogTemplateId = 102;
inline constexpr int kIconGroupId = 128;
inline constexpr const char* kStartupMessageName = "Qmx_56k_Modem_Update";

class Win32UpdateWindow final : public Window, public DialogView {
 public:
  // `startup_message_number`: the number RegisterWindowMessageA gave for
  // kStartupMessageName. Construct on the thread that calls Run().
  Win32UpdateWindow(HINSTANCE instance, UINT startup_message_number);
  ~Win32UpdateWindow() override;

  // Runs the dialog modally with `controller` handling its commands; returns
  // the dialog's result (kDialogOk, kDialogCancel, or -1 when the template
  // cannot be loaded).
  INT_PTR Run(UpdateDialog& controller);

  // Tests and tools: called on the dialog's thread once the dialog has been
  // initialised (after the controller's OnInitDialog).
  void SetOnInitialised(std::function<void(HWND)> hook) { on_initialised_ = std::move(hook); }

  HWND Handle() const { return dialog_; }
  HICON AppIcon() const { return icon_; }

  // mfu::Window
  void AppendLog(const char* text) override;
  std::string LogText() override;
  void EnableButton(int id, bool enable) override;
  void SetProgressRange(std::uint16_t upper) override;
  void SetProgressStep(int step) override;
  void StepProgress() override;
  bool AskYesNo(const char* text) override;
  bool AskYesNoDefaultNo(const char* text) override;  // "Nein" is the default button
  void ShowNotice(const char* text) override;
  bool ChooseFile(FileDialogRequest& request) override;

  // DialogView
  void PostStartupMessage() override;
  void BeginClosing() override;
  void CloseWindow(int result) override;
  // The connection procedure runs on the controller's worker, so that the
  // close box, Esc and "Beenden" reach it while it waits for the modem; its
  // end is posted to the dialog as a private message (any thread).
  bool ConnectOnWorker() const override { return true; }
  void PostConnectionEnded() override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void OnInitDialog(HWND dialog);
  bool OnPaint();
  void OnCommand(int id, int code);

  HINSTANCE instance_;
  UINT StartupMessage;
  HICON icon_;
  std::string caption_;
  HWND dialog_ = nullptr;
  HWND LogPane = nullptr;
  HWND ProgressBar = nullptr;
  UpdateDialog* controller_ = nullptr;
  std::unique_ptr<WindowGate> gate_;
  std::function<void(HWND)> on_initialised_;
};

// The program file's base name without its extension ("ModemUpdate"): the
// caption of every message box.
std::string ProgramBaseName();

// Where the minimised window's icon goes: centred in a client area of
// `client_width` x `client_height`, (w - icon + 1) / 2 by integer division.
POINT MinimisedIconOrigin(int client_width, int client_height, int icon_width, int icon_height);

// The file dialog record for `request`: OPENFILENAME_SIZE_VERSION_400A (76
// bytes on 32-bit Windows), the request's filter, file, title, initial
// folder and flags, owner and instance.
OPENFILENAMEA OpenFileRecord(const FileDialogRequest& request, HWND owner, HINSTANCE instance);

}  // namespace mfu
