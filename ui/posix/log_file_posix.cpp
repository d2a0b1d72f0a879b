// The log file on POSIX: open(2) for appending, write(2) with the line-feed
// conversion that the system has no text mode for, close(2).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ui/log_file.h"

namespace mfu {
namespace {

// Writes all of `size` bytes, carrying on after a short write or a signal.
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;  // no progress: treat as a full device
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

class PosixLogFile final : public LogFile {
 public:
  explicit PosixLogFile(int fd) : fd_(fd) {}
  ~PosixLogFile() override { Close(); }
  PosixLogFile(const PosixLogFile&) = delete;
  PosixLogFile& operator=(const PosixLogFile&) = delete;

  bool Write(const char* data, std::size_t size) override {
    if (fd_ < 0) return false;
    // Text mode: every LF goes out as CR LF. Converted in chunks so that a
    // pane of any length needs only this fixed buffer.
    char chunk[4096];
    std::size_t used = 0;
    for (std::size_t i = 0; i < size; ++i) {
      if (used + 2 > sizeof chunk) {
        if (!WriteAll(fd_, chunk, used)) return false;
        used = 0;
      }
      if (data[i] == '\n') chunk[used++] = '\r';
      chunk[used++] = data[i];
    }
    return used == 0 || WriteAll(fd_, chunk, used);
  }

  bool Close() override {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    // On Linux the descriptor is gone even when close reports EINTR, so it is
    // never retried; any error (EIO, a quota or NFS write-back failure) means
    // the data may not be on disk.
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

class PosixLogFiles final : public LogFileSystem {
 public:
  std::unique_ptr<LogFile> OpenForAppend(const char* path) override {
    if (path == nullptr || *path == '\0') return nullptr;
    // O_NONBLOCK only for the open itself: a FIFO chosen as the log file
    // would otherwise hold the window until some reader appeared; without a
    // reader it now counts as "cannot be opened". Cleared again at once, so
    // that writes block as usual.
    int fd;
    do {
      fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, S_IRUSR | S_IWUSR);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) < 0) {
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixLogFile>(fd);
  }
};

}  // namespace

LogFileSystem& SystemLogFiles() {
  static PosixLogFiles files;
  return files;
}

}  // namespace mfu
