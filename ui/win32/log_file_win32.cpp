// The log export's files on Windows: the C runtime's _open, _write and
// _close in text mode. The runtime turns every "\n" of a write into "\r\n",
// which is the one conversion the export relies on (it writes its block as
// composed and never converts itself).
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <memory>

#include "ui/log_file.h"
#include "ui/win32/runtime_write.h"

namespace mfu {
namespace {

// _O_RDWR | _O_APPEND | _O_CREAT | _O_TEXT: every write goes to the end, a
// missing file is created, an existing one is never truncated.
constexpr int kOpenFlags = _O_RDWR | _O_APPEND | _O_CREAT | _O_TEXT;
static_assert(kOpenFlags == 0x410A, "the log file's open flags");

class RuntimeLogFile final : public LogFile {
 public:
  explicit RuntimeLogFile(int fd) : fd_(fd) {}
  ~RuntimeLogFile() override { (void)Close(); }

  bool Write(const char* data, std::size_t size) override {
    return fd_ >= 0 && RuntimeWriteAll(fd_, data, size);
  }

  bool Close() override {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    return ::_close(fd) == 0;
  }

 private:
  int fd_;
};

class RuntimeLogFiles final : public LogFileSystem {
 public:
  std::unique_ptr<LogFile> OpenForAppend(const char* path) override {
    if (path == nullptr || path[0] == '\0') return nullptr;
    const int fd = ::_open(path, kOpenFlags, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    return std::make_unique<RuntimeLogFile>(fd);
  }
};

}  // namespace

LogFileSystem& SystemLogFiles() {
  static RuntimeLogFiles files;
  return files;
}

}  // namespace mfu
