// Drives ModemUpdate.exe from outside, as a user would, for the end-to-end
// run under Wine: finds the update window, waits for the connection
// procedure, optionally starts the update and answers Yes, waits for the
// outcome in the log pane, optionally captures the window into a .bmp,
// presses "Beenden" and writes the log pane's text (Windows-1252 bytes) to
// stdout. Exit status 0 when every step happened in time, 1 otherwise; the
// calling script judges the log.
//
// With --press-when-heard FILE TEXT the modem is a silent one that records
// what it hears in FILE (a Z: path): "Beenden" is pressed as soon as FILE
// holds TEXT, while the procedure still waits for the modem's answer, and the
// program's process must have ended within --within MS, measured from before
// the press; the time is written to stderr.
//
//   e2e_driver.exe [--update] [--timeout SECONDS] [--shot FILE.bmp]
//                  [--press-when-heard FILE TEXT [--within MS]]
#include <windows.h>

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

DWORD g_deadline = 0;

bool TimeLeft() { return static_cast<LONG>(g_deadline - ::GetTickCount()) > 0; }

std::string Text(HWND window) {
  const LRESULT length = ::SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
  const LRESULT got = ::SendMessageA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
  return std::string(buffer.data(), static_cast<std::size_t>(got));
}

bool WaitForLog(HWND pane, const std::vector<const char*>& any, std::string& log) {
  while (TimeLeft()) {
    log = Text(pane);
    for (const char* marker : any) {
      if (log.find(marker) != std::string::npos) return true;
    }
    ::Sleep(100);
  }
  return false;
}

bool Enabled(HWND dialog, int id) { return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE; }

void Click(HWND dialog, int id) {
  ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

struct BoxSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  char cls[32] = {};
  ::GetClassNameA(window, cls, sizeof cls);
  if (std::strcmp(cls, "#32770") == 0 && ::GetWindow(window, GW_OWNER) == search->owner &&
      ::IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND WaitForMessageBox(HWND owner) {
  while (TimeLeft()) {
    BoxSearch search{owner, nullptr};
    ::EnumWindows(&FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    ::Sleep(50);
  }
  return nullptr;
}

bool SaveShot(HWND window, const char* path) {
  RECT rect;
  if (!::GetWindowRect(window, &rect)) return false;
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  ::SelectObject(memory, old);
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD row = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
  std::vector<unsigned char> pixels(row * static_cast<DWORD>(height));
  ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return false;
  std::fwrite(&file, sizeof file, 1, out);
  std::fwrite(&info, sizeof info, 1, out);
  std::fwrite(pixels.data(), 1, pixels.size(), out);
  return std::fclose(out) == 0;
}

int Fail(const char* what, const std::string& log) {
  std::fprintf(stderr, "e2e_driver: %s\n", what);
  std::fwrite(log.data(), 1, log.size(), stdout);
  return 1;
}

bool FileHolds(const char* path, const char* text) {
  FILE* in = std::fopen(path, "rb");
  if (in == nullptr) return false;
  std::string bytes;
  char chunk[512];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) bytes.append(chunk, got);
  std::fclose(in);
  return bytes.find(text) != std::string::npos;
}

// "Beenden" pressed while the procedure waits for the silent modem: the
// program must be gone within `within_ms` of the press.
int PressWhenHeard(HWND dialog, HWND pane, const char* heard, const char* text, long within_ms) {
  while (TimeLeft() && !FileHolds(heard, text)) ::Sleep(20);
  if (!FileHolds(heard, text)) return Fail("the modem did not hear what \"Beenden\" waits for", Text(pane));
  DWORD pid = 0;
  ::GetWindowThreadProcessId(dialog, &pid);
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return Fail("cannot wait for the program's process", Text(pane));
  const std::string log = Text(pane);
  if (::WaitForSingleObject(process, 0) != WAIT_TIMEOUT) {
    ::CloseHandle(process);
    return Fail("the program ended before \"Beenden\"", log);
  }
  LARGE_INTEGER frequency, pressed, ended;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&pressed);
  Click(dialog, IDOK);
  const LONG left = static_cast<LONG>(g_deadline - ::GetTickCount());
  const DWORD woke = ::WaitForSingleObject(process, left > 0 ? static_cast<DWORD>(left) : 0);
  ::QueryPerformanceCounter(&ended);
  ::CloseHandle(process);
  const long ms = static_cast<long>((ended.QuadPart - pressed.QuadPart) * 1000 / frequency.QuadPart);
  if (woke != WAIT_OBJECT_0) return Fail("the program did not end after \"Beenden\"", log);
  std::fprintf(stderr, "e2e_driver: the program ended %ld ms after \"Beenden\"\n", ms);
  if (ms >= within_ms) return Fail("the program ended too late after \"Beenden\"", log);
  std::fwrite(log.data(), 1, log.size(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool update = false;
  int timeout_s = 120;
  const char* shot = nullptr;
  const char* heard = nullptr;
  const char* heard_text = nullptr;
  long within_ms = 1000;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--update") == 0) update = true;
    else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) timeout_s = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--shot") == 0 && i + 1 < argc) shot = argv[++i];
    else if (std::strcmp(argv[i], "--press-when-heard") == 0 && i + 2 < argc) {
      heard = argv[++i];
      heard_text = argv[++i];
    } else if (std::strcmp(argv[i], "--within") == 0 && i + 1 < argc) within_ms = std::atol(argv[++i]);
  }
  _setmode(_fileno(stdout), _O_BINARY);
  g_deadline = ::GetTickCount() + static_cast<DWORD>(timeout_s) * 1000;

  HWND dialog = nullptr;
  while (TimeLeft() && (dialog = ::FindWindowA("#32770", "Modem Flash Update")) == nullptr) ::Sleep(100);
  if (dialog == nullptr) return Fail("the update window did not appear", "");
  // The dialog can be found before its controls exist: wait for the pane,
  // or every later read of it would see nothing.
  HWND pane = nullptr;
  while (TimeLeft() && (pane = ::GetDlgItem(dialog, 1009)) == nullptr) ::Sleep(20);
  if (pane == nullptr) return Fail("the update window has no log pane", "");

  if (heard != nullptr) return PressWhenHeard(dialog, pane, heard, heard_text, within_ms);
  std::string log;
  // The connection procedure ends with the download-mode answer (or with no
  // modem / no answer / a port the test image may not use).
  if (!WaitForLog(pane, {"Um Update zu starten", "Es wurde kein KELVORA-Modem gefunden", "Keine Antwort",
                         "Kann nicht auf Modem zugreifen", "noch nicht korrekt",
                         "ist eine echte serielle Schnittstelle"},
                  log)) {
    return Fail("the connection procedure did not end", log);
  }
  ::Sleep(300);
  if (update) {
    if (!Enabled(dialog, 1006)) return Fail("\"Update Starten\" is not enabled", Text(pane));
    Click(dialog, 1006);
    HWND box = WaitForMessageBox(dialog);
    if (box == nullptr) return Fail("no question after \"Update Starten\"", Text(pane));
    Click(box, IDYES);
    if (!WaitForLog(pane, {"Update ist erfolgreich abgeschlossen!", "Update ist fehlgeschlagen."}, log)) {
      return Fail("no outcome in time", log);
    }
    ::Sleep(300);
    HWND bar = ::GetDlgItem(dialog, 1011);
    const LRESULT position = ::SendMessageA(bar, PBM_GETPOS, 0, 0);
    const LRESULT upper = ::SendMessageA(bar, PBM_GETRANGE, FALSE, 0);
    std::fprintf(stderr, "e2e_driver: progress %ld of %ld; buttons 1006=%d 1007=%d 1012=%d 1=%d\n",
                 static_cast<long>(position), static_cast<long>(upper), Enabled(dialog, 1006),
                 Enabled(dialog, 1007), Enabled(dialog, 1012), Enabled(dialog, 1));
  }
  if (shot != nullptr) {
    ::SetForegroundWindow(dialog);
    ::Sleep(500);
    if (!SaveShot(dialog, shot)) std::fprintf(stderr, "e2e_driver: no screenshot\n");
  }
  log = Text(pane);
  Click(dialog, IDOK);
  while (TimeLeft() && ::IsWindow(dialog)) ::Sleep(100);
  if (::IsWindow(dialog)) return Fail("the window did not close after \"Beenden\"", log);
  std::fwrite(log.data(), 1, log.size(), stdout);
  return 0;
}
