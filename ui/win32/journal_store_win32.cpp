// The journal's folder on Windows: ModemUpdate in the user's application
// data (CSIDL_APPDATA), or the program's own folder where Windows has none
// (Windows 95 without the shell update). Files in the log export's form: the
// runtime's text mode stores every "\n" as "\r\n"; each append is one _write,
// which the runtime hands to the system before it returns.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shlobj.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "ui/cp1252.h"
#include "ui/journal_store.h"
#include "ui/win32/runtime_write.h"

namespace mfu {
namespace {

std::string Cp1252(const std::wstring& text) {
  return Utf16ToCp1252(std::u16string(text.begin(), text.end()));
}

std::wstring Wide(const std::string& cp1252) {
  const std::u16string text = Cp1252ToUtf16(cp1252);
  return std::wstring(text.begin(), text.end());
}

std::string Reason(DWORD error) {
  char text[256] = {};
  if (::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                       sizeof text, nullptr) == 0) {
    std::snprintf(text, sizeof text, "Fehler %lu", static_cast<unsigned long>(error));
  }
  std::string reason = text;
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'))
    reason.pop_back();
  return reason;
}

class RuntimeJournalFile final : public JournalFile {
 public:
  explicit RuntimeJournalFile(int fd) : fd_(fd) {}
  ~RuntimeJournalFile() override { ::_close(fd_); }
  RuntimeJournalFile(const RuntimeJournalFile&) = delete;
  RuntimeJournalFile& operator=(const RuntimeJournalFile&) = delete;

  bool Append(const char* data, std::size_t size) override { return RuntimeWriteAll(fd_, data, size); }

 private:
  const int fd_;
};

class Win32JournalStore final : public JournalStore {
 public:
  bool Utf8() const override { return false; }

  std::string Folder() override { return Cp1252(Directory()); }

  std::unique_ptr<JournalFile> Create(const std::string& name, std::string& path, std::string& why) override {
    const std::wstring directory = Directory();
    if (!::CreateDirectoryW(directory.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      why = Cp1252(directory) + ": " + Reason(::GetLastError());
      return nullptr;
    }
    const std::wstring file = directory + L"\\" + Wide(name);
    // _O_EXCL: a run never writes into another run's file.
    const int fd = ::_wopen(file.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_EXCL | _O_TEXT | _O_NOINHERIT,
                            _S_IREAD | _S_IWRITE);
    if (fd < 0) {
      why = Cp1252(file) + ": " + Reason(::GetLastError());
      return nullptr;
    }
    path = Cp1252(file);
    return std::make_unique<RuntimeJournalFile>(fd);
  }

  std::vector<std::string> List() override {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((Directory() + L"\\*.log").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(Cp1252(found.cFileName));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
  }

  bool Read(const std::string& name, std::string& content) override {
    const std::wstring file = Directory() + L"\\" + Wide(name);
    const HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    content.clear();
    char buffer[8192];
    DWORD n = 0;
    bool ok = true;
    while ((ok = ::ReadFile(handle, buffer, sizeof buffer, &n, nullptr) != 0) && n > 0) content.append(buffer, n);
    ::CloseHandle(handle);
    return ok;
  }

  unsigned long ProcessId() override { return ::GetCurrentProcessId(); }

 private:
  static std::wstring Directory() {
    wchar_t folder[MAX_PATH] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)) &&
        folder[0] != L'\0') {
      return std::wstring(folder) + L"\\ModemUpdate";
    }
    // No application data: the program's own folder.
    wchar_t program[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring own(program, n < MAX_PATH ? n : 0);
    const std::size_t slash = own.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : own.substr(0, slash);
  }
};

}  // namespace

JournalStore& SystemJournalStore() {
  static Win32JournalStore store;
  return store;
}

}  // namespace mfu
