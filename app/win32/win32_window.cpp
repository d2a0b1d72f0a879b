#include "app/win32/win32_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <utility>
#include <vector>

#include "platform/diag.h"

namespace mfu {
namespace {

// Wakes the gate: the dialog's thread drains the calls of worker threads.
constexpr UINT kGateMessage = WM_APP + 1;
// The connection procedure's worker has returned.
constexpr UINT kConnectionEndedMessage = WM_APP + 2;

}  // namespace

std::string ProgramBaseName() {
  char path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path, length < MAX_PATH ? length : MAX_PATH);
  const std::size_t slash = name.find_last_of("\\/:");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

POINT MinimisedIconOrigin(int client_width, int client_height, int icon_width, int icon_height) {
  POINT origin;
  origin.x = (client_width - icon_width + 1) / 2;
  origin.y = (client_height - icon_height + 1) / 2;
  return origin;
}

OPENFILENAMEA OpenFileRecord(const FileDialogRequest& request, HWND owner, HINSTANCE instance) {
  OPENFILENAMEA record{};
  // The record as it was before Windows 2000 added its last three fields.
  record.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  record.hwndOwner = owner;
  record.hInstance = instance;
  record.lpstrFilter = request.filter;
  record.lpstrCustomFilter = nullptr;
  record.nFilterIndex = static_cast<DWORD>(request.filter_index);
  record.lpstrFile = request.file;
  record.nMaxFile = static_cast<DWORD>(request.file_capacity);
  record.lpstrFileTitle = nullptr;
  record.lpstrInitialDir = request.initial_dir;
  record.lpstrTitle = request.title;
  record.Flags = request.flags;
  record.lpstrDefExt = nullptr;
  record.lpfnHook = nullptr;
  record.lpTemplateName = nullptr;
  return record;
}

Win32UpdateWindow::Win32UpdateWindow(HINSTANCE instance, UINT startup_message_number)
    : instance_(instance),
      StartupMessage(startup_message_number),
      icon_(::LoadIconA(instance, MAKEINTRESOURCEA(kIconGroupId))),
      caption_(ProgramBaseName()) {
  gate_ = std::make_unique<WindowGate>([this] {
    HWND dialog = dialog_;
    if (dialog != nullptr) ::PostMessageA(dialog, kGateMessage, 0, 0);
  });
}

Win32UpdateWindow::~Win32UpdateWindow() { gate_->Close(); }

INT_PTR Win32UpdateWindow::Run(UpdateDialog& controller) {
  controller_ = &controller;
  const INT_PTR result = ::DialogBoxParamA(instance_, MAKEINTRESOURCEA(kDialogTemplateId), nullptr,
                                           &Win32UpdateWindow::DialogProc, reinterpret_cast<LPARAM>(this));
  gate_->Close();
  // The dialog closes only after the procedure has ended; should the modal
  // run have ended otherwise, the procedure is cut short here.
  controller.EndConnectionProcedure();
  dialog_ = nullptr;
  controller_ = nullptr;
  return result;
}

INT_PTR CALLBACK Win32UpdateWindow::DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  Win32UpdateWindow* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Win32UpdateWindow*>(lparam);
    ::SetWindowLongPtrA(dialog, DWLP_USER, lparam);
    self->OnInitDialog(dialog);
    // True: the focus goes to the first tab stop, "Beenden".
    return TRUE;
  }
  self = reinterpret_cast<Win32UpdateWindow*>(::GetWindowLongPtrA(dialog, DWLP_USER));
  if (self == nullptr) return FALSE;
  return self->Handle(message, wparam, lparam);
}

void Win32UpdateWindow::OnInitDialog(HWND dialog) {
  dialog_ = dialog;
  ::SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  LogPane = ::GetDlgItem(dialog, kIdLogPane);
  // An edit control takes some 30,000 characters unless told otherwise, and
  // EM_REPLACESEL beyond that drops the text without a word: the pane (and
  // the log saved from it) would lose every later line. 0 lifts the limit.
  ::SendMessageA(LogPane, EM_SETLIMITTEXT, 0, 0);
  ProgressBar = ::GetDlgItem(dialog, kIdProgressBar);
  // Button states, then the start-up message (posted, so it is handled as
  // soon as the modal loop runs and before any input).
  controller_->OnInitDialog();
  if (on_initialised_) on_initialised_(dialog);
}

INT_PTR Win32UpdateWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == StartupMessage && StartupMessage != 0) {
    controller_->OnStartupMessage();
    return TRUE;
  }
  switch (message) {
    case kGateMessage:
      gate_->Drain();
      return TRUE;
    case kConnectionEndedMessage:
      controller_->OnConnectionEnded();
      return TRUE;
    case WM_PAINT:
      return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    default:
      (void)lparam;
      return FALSE;
  }
}

bool Win32UpdateWindow::OnPaint() {
  if (!::IsIconic(dialog_)) return false;  // the dialog paints itself
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(dialog_, &paint);
  ::SendMessageA(dialog_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  ::GetClientRect(dialog_, &client);
  const POINT origin = MinimisedIconOrigin(client.right - client.left, client.bottom - client.top,
                                           ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON));
  ::DrawIcon(dc, origin.x, origin.y, icon_);
  ::EndPaint(dialog_, &paint);
  return true;
}

void Win32UpdateWindow::OnCommand(int id, int code) {
  if (code != BN_CLICKED) return;
  switch (id) {
    case kIdSaveLog:
      controller_->OnSaveLog();
      break;
    case kIdStartUpdate:
      controller_->OnStartUpdate();
      break;
    case kIdHelp:
      controller_->OnHelpButton();
      break;
    case IDOK:
      controller_->OnOK();
      break;
    case IDCANCEL:
      controller_->OnCancel();
      break;
    default:
      break;
  }
}

void Win32UpdateWindow::AppendLog(const char* text) {
  gate_->Run([&] {
    if (LogPane == nullptr || text == nullptr) return;
    // Caret to the end (any selection is given up), then insert there; the
    // insertion cannot be undone, and ES_AUTOVSCROLL keeps the end in view.
    const int length = ::GetWindowTextLengthA(LogPane);
    ::SendMessageA(LogPane, EM_SETSEL, static_cast<WPARAM>(length), static_cast<LPARAM>(length));
    ::SendMessageA(LogPane, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(text));
  });
}

std::string Win32UpdateWindow::LogText() {
  std::string text;
  gate_->Run([&] {
    if (LogPane == nullptr) return;
    const int length = ::GetWindowTextLengthA(LogPane);
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = ::GetWindowTextA(LogPane, buffer.data(), length + 1);
    text.assign(buffer.data(), copied > 0 ? static_cast<std::size_t>(copied) : 0);
  });
  return text;
}

void Win32UpdateWindow::EnableButton(int id, bool enable) {
  gate_->Run([&] {
    if (dialog_ != nullptr) ::EnableWindow(::GetDlgItem(dialog_, id), enable ? TRUE : FALSE);
  });
}

void Win32UpdateWindow::SetProgressRange(std::uint16_t upper) {
  gate_->Run([&] {
    ::SendMessageA(ProgressBar, PBM_SETRANGE, 0, static_cast<LPARAM>(static_cast<DWORD>(upper) << 16));
  });
}

void Win32UpdateWindow::SetProgressStep(int step) {
  gate_->Run([&] { ::SendMessageA(ProgressBar, PBM_SETSTEP, static_cast<WPARAM>(step), 0); });
}

void Win32UpdateWindow::StepProgress() {
  gate_->Run([&] { ::SendMessageA(ProgressBar, PBM_STEPIT, 0, 0); });
}

bool Win32UpdateWindow::AskYesNo(const char* text) {
  bool yes = false;
  gate_->Run([&] { yes = ::MessageBoxA(dialog_, text, caption_.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES; });
  return yes;
}

bool Win32UpdateWindow::AskYesNoDefaultNo(const char* text) {
  bool yes = false;
  // "Nein" is the default button: a reflex Enter or Space during the
  // transfer ("Update läuft bereit, wollen Sie es abbrechen ?") keeps it
  // going, as an empty answer does in the console.
  gate_->Run([&] {
    yes = ::MessageBoxA(dialog_, text, caption_.c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
  });
  return yes;
}

void Win32UpdateWindow::ShowNotice(const char* text) {
  gate_->Run([&] { ::MessageBoxA(dialog_, text, caption_.c_str(), MB_OK); });
}

bool Win32UpdateWindow::ChooseFile(FileDialogRequest& request) {
  bool chosen = false;
  gate_->Run([&] {
    OPENFILENAMEA record = OpenFileRecord(request, dialog_, instance_);
    chosen = ::GetOpenFileNameA(&record) != FALSE;
  });
  return chosen;
}

void Win32UpdateWindow::PostStartupMessage() {
  if (dialog_ != nullptr) ::PostMessageA(dialog_, StartupMessage, 0, 0);
}

void Win32UpdateWindow::BeginClosing() { gate_->Close(); }

void Win32UpdateWindow::PostConnectionEnded() {
  if (dialog_ == nullptr || ::PostMessageA(dialog_, kConnectionEndedMessage, 0, 0) == FALSE) {
    // Nothing would tell the dialog: its close would wait for ever.
    Diag("PostMessage of the connection's end failed\n");
  }
}

void Win32UpdateWindow::CloseWindow(int result) {
  if (dialog_ != nullptr) ::EndDialog(dialog_, result);
}

}  // namespace mfu
