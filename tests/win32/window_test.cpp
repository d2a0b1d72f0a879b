// The Win32 update window: the file dialog record, the minimised icon's
// place, the caption name, and a live run of dialog 102 (needs a display;
// under Wine, xvfb-run) driven by a worker thread as the session's threads
// drive it: log appends, buttons, the progress bar, the start-up message
// before any input, a question that Enter answers "Nein", "Beenden", and a
// worker released once the window closes.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>

#include "app/update_dialog.h"
#include "app/win32/win32_window.h"
#include "tests/support/fake_session.h"

namespace mfu {
namespace {

TEST(Win32Window, FileDialogRecordCarriesTheRequest) {
  char file[256] = "*.log";
  const char filter[] = "Firmware Update Log-Dateien\0*.hlg\0Alle Dateien\0*.*\0";
  FileDialogRequest request;
  request.filter = filter;
  request.filter_index = 1;
  request.file = file;
  request.file_capacity = sizeof file;
  request.initial_dir = "D:";
  request.title = "Speichern Update-Log unter ...";
  request.flags = kOfnHideReadOnly | kOfnPathMustExist | kOfnCreatePrompt | kOfnExplorer;
  HWND owner = reinterpret_cast<HWND>(0x1234);
  const OPENFILENAMEA record = OpenFileRecord(request, owner, ::GetModuleHandleA(nullptr));
#if defined(_WIN64)
  EXPECT_EQ(record.lStructSize, static_cast<DWORD>(OPENFILENAME_SIZE_VERSION_400A));
#else
  EXPECT_EQ(record.lStructSize, 76u);
#endif
  EXPECT_EQ(record.hwndOwner, owner);
  EXPECT_EQ(record.hInstance, ::GetModuleHandleA(nullptr));
  EXPECT_EQ(record.lpstrFilter, filter);
  EXPECT_EQ(record.lpstrCustomFilter, nullptr);
  EXPECT_EQ(record.nFilterIndex, 1u);
  EXPECT_EQ(record.lpstrFile, file);
  EXPECT_EQ(record.nMaxFile, 256u);
  EXPECT_EQ(record.lpstrFileTitle, nullptr);
  EXPECT_STREQ(record.lpstrInitialDir, "D:");
  EXPECT_STREQ(record.lpstrTitle, "Speichern Update-Log unter ...");
  EXPECT_EQ(record.Flags, 0x82804u);
  EXPECT_EQ(record.lpstrDefExt, nullptr);
  EXPECT_EQ(record.lpfnHook, nullptr);
}

TEST(Win32Window, MinimisedIconIsCentredWithRoundingUp) {
  POINT origin = MinimisedIconOrigin(36, 36, 32, 32);
  EXPECT_EQ(origin.x, 2);
  EXPECT_EQ(origin.y, 2);
  origin = MinimisedIconOrigin(37, 38, 32, 32);
  EXPECT_EQ(origin.x, 3);  // (37 - 32 + 1) / 2
  EXPECT_EQ(origin.y, 3);  // (38 - 32 + 1) / 2
  origin = MinimisedIconOrigin(0, 0, 32, 32);
  EXPECT_EQ(origin.x, -15);
}

TEST(Win32Window, CaptionIsTheProgramsBaseName) { EXPECT_EQ(ProgramBaseName(), "win32_test"); }

// The window's session: the connection procedure finds a modem.
class FoundModemSession : public test::FakeSession {
 public:
  FoundModemSession() {
    monitor = true;
    on_setup = [] {
      MainDialog()->AppendLog("Modem-Update Tool startet.\r\n");
      MainDialog()->EnableButton(kIdStartUpdate, true);
    };
  }
};

bool Enabled(HWND dialog, int id) { return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE; }

BOOL CALLBACK FindOwnedBox(HWND window, LPARAM param) {
  auto* found = reinterpret_cast<std::pair<HWND, HWND>*>(param);  // owner, box
  char name[16] = {};
  ::GetClassNameA(window, name, sizeof name);
  if (std::string(name) != "#32770" || ::GetWindow(window, GW_OWNER) != found->first || !::IsWindowVisible(window)) {
    return TRUE;
  }
  found->second = window;
  return FALSE;
}

// What a user's Enter does to the message box `owner` shows: whether the
// Enter closed it (within `limit_ms`). A box that Enter leaves open is
// answered "Nein" with a click so that the test ends.
struct EnterOnQuestion {
  bool box_seen = false;
  bool closed_by_enter = false;
};
EnterOnQuestion PressEnterOnQuestion(HWND owner, DWORD limit_ms) {
  EnterOnQuestion seen;
  std::pair<HWND, HWND> search{owner, nullptr};
  const DWORD start = ::GetTickCount();
  while (search.second == nullptr && ::GetTickCount() - start < limit_ms) {
    ::EnumWindows(&FindOwnedBox, reinterpret_cast<LPARAM>(&search));
    if (search.second == nullptr) ::Sleep(5);
  }
  HWND box = search.second;
  if (box == nullptr) return seen;
  seen.box_seen = true;
  ::PostMessageA(box, WM_KEYDOWN, VK_RETURN, 0);
  const DWORD pressed = ::GetTickCount();
  while (::IsWindow(box) && ::GetTickCount() - pressed < limit_ms) ::Sleep(5);
  seen.closed_by_enter = !::IsWindow(box);
  if (!seen.closed_by_enter) ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), 0);
  return seen;
}

TEST(Win32Window, LiveDialogRunsStartUpWorkerCallsAndBeenden) {
  const UINT startup = ::RegisterWindowMessageA(kStartupMessageName);
  ASSERT_NE(startup, 0u);
  Win32UpdateWindow window(::GetModuleHandleA(nullptr), startup);
  SetMainDialog(&window);
  FoundModemSession session;
  UpdateDialog controller(window, window, session);

  std::atomic<bool> init_states_ok{false};
  std::atomic<bool> startup_pending_at_init{false};
  std::thread worker;
  std::string caption;
  std::string log_seen;
  int progress_upper = -1, progress_pos = -1;
  std::size_t big_log_size = 0;
  std::atomic<bool> late_call_returned{false};
  EnterOnQuestion enter;
  bool enter_answer = true;

  window.SetOnInitialised([&](HWND dialog) {
    init_states_ok = !Enabled(dialog, kIdStartUpdate) && Enabled(dialog, kIdHelp) && Enabled(dialog, kIdSaveLog) &&
                     Enabled(dialog, kIdBeenden);
    MSG message;
    startup_pending_at_init = ::PeekMessageA(&message, dialog, startup, startup, PM_NOREMOVE) != FALSE;
    char text[64] = {};
    ::GetWindowTextA(dialog, text, sizeof text);
    caption = text;
    worker = std::thread([&, dialog] {
      // The session's threads: every call returns once the dialog's thread
      // has carried it out.
      while (session.setups.load() == 0) ::Sleep(5);
      window.AppendLog("\r\nUpdate l\xE4uft ...\r\n");
      window.SetProgressRange(728);
      window.SetProgressStep(1);
      window.StepProgress();
      window.StepProgress();
      log_seen = window.LogText();
      // A pane beyond the edit control's default limit (30,000 characters)
      // keeps every line.
      const std::string line(1023, 'x');
      for (int i = 0; i < 40; ++i) window.AppendLog((line + "\n").c_str());
      big_log_size = window.LogText().size();
      progress_upper = static_cast<int>(::SendMessageA(::GetDlgItem(dialog, kIdProgressBar), PBM_GETRANGE, FALSE, 0));
      progress_pos = static_cast<int>(::SendMessageA(::GetDlgItem(dialog, kIdProgressBar), PBM_GETPOS, 0, 0));
      // The cancel question during the transfer: Enter keeps it going.
      std::thread user([&, dialog] { enter = PressEnterOnQuestion(dialog, 20000); });
      enter_answer = window.AskYesNoDefaultNo("Update l\xE4uft bereit, wollen Sie es abbrechen ?");
      user.join();
      window.EnableButton(kIdHelp, false);
      ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      while (session.stops.load() == 0) ::Sleep(5);
      // A worker that comes after the window began to close is let go at once.
      window.AppendLog("too late\r\n");
      late_call_returned = true;
    });
  });

  const INT_PTR result = window.Run(controller);
  const bool worker_started = worker.joinable();
  if (worker_started) worker.join();
  SetMainDialog(nullptr);
  ASSERT_TRUE(worker_started) << "the dialog did not open (DialogBoxParamA gave " << result
                              << ", last error " << ::GetLastError() << ")";

  EXPECT_EQ(result, kDialogOk);
  EXPECT_TRUE(init_states_ok);
  EXPECT_TRUE(startup_pending_at_init);
  EXPECT_EQ(caption, "Modem Flash Update");
  EXPECT_EQ(session.setups.load(), 1);
  EXPECT_EQ(session.exit_bytes.load(), 1);  // monitor running, no sender: "c"
  EXPECT_EQ(session.stops.load(), 1);
  EXPECT_EQ(log_seen, "Modem-Update Tool startet.\r\n\r\nUpdate l\xE4uft ...\r\n");
  EXPECT_EQ(big_log_size, log_seen.size() + 40u * 1024u);
  EXPECT_EQ(progress_upper, 728);
  EXPECT_EQ(progress_pos, 2);
  EXPECT_TRUE(late_call_returned);
  ASSERT_TRUE(enter.box_seen);
  EXPECT_TRUE(enter.closed_by_enter);
  EXPECT_FALSE(enter_answer);
}

}  // namespace
}  // namespace mfu
