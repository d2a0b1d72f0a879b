// The journal's folder on POSIX: $XDG_STATE_HOME/modem-update, or
// ~/.local/state/modem-update when XDG_STATE_HOME is unset, empty or not an
// absolute path (as the XDG base directory rules say). Folders that are
// missing are created for the owner alone (0700), files are 0600, UTF-8 with
// LF. Each append is one write(2): the text is in the system's hands when it
// returns, so a killed program loses nothing written before.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include "ui/cp1252.h"
#include "ui/journal_store.h"

namespace mfu {
namespace {

std::string Reason(int error) { return std::system_category().message(error); }

class PosixJournalFile final : public JournalFile {
 public:
  explicit PosixJournalFile(int fd) : fd_(fd) {}
  ~PosixJournalFile() override { ::close(fd_); }
  PosixJournalFile(const PosixJournalFile&) = delete;
  PosixJournalFile& operator=(const PosixJournalFile&) = delete;

  bool Append(const char* data, std::size_t size) override {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  const int fd_;
};

class PosixJournalStore final : public JournalStore {
 public:
  bool Utf8() const override { return true; }

  std::string Folder() override { return Utf8ToCp1252(Directory()); }

  std::unique_ptr<JournalFile> Create(const std::string& name, std::string& path, std::string& why) override {
    const std::string directory = Directory();
    if (directory.empty()) {
      why = "HOME";
      return nullptr;
    }
    if (!MakeDirectories(directory, why)) return nullptr;
    const std::string file = directory + "/" + name;
    int fd;
    do {
      // O_EXCL: a run never writes into another run's file.
      fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      why = Utf8ToCp1252(file) + ": " + Reason(errno);
      return nullptr;
    }
    path = Utf8ToCp1252(file);
    return std::make_unique<PosixJournalFile>(fd);
  }

  std::vector<std::string> List() override {
    std::vector<std::string> names;
    DIR* dir = ::opendir(Directory().c_str());
    if (dir == nullptr) return names;
    // This stream is the call's own: readdir's shared state is per stream.
    while (const dirent* entry = ::readdir(dir)) {  // NOLINT(concurrency-mt-unsafe)
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return names;
  }

  bool Read(const std::string& name, std::string& content) override {
    const int fd = ::open((Directory() + "/" + name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    content.clear();
    char buffer[8192];
    while (ok) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n <= 0) break;
      content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok;
  }

  unsigned long ProcessId() override { return static_cast<unsigned long>(::getpid()); }

 private:
  // Empty when neither an absolute XDG_STATE_HOME nor HOME is set.
  // The program never changes its own environment, so reading it is safe.
  static std::string Directory() {
    const char* state = std::getenv("XDG_STATE_HOME");  // NOLINT(concurrency-mt-unsafe)
    if (state != nullptr && state[0] == '/') return std::string(state) + "/modem-update";
    const char* home = std::getenv("HOME");  // NOLINT(concurrency-mt-unsafe)
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/modem-update";
    return std::string();
  }

  // mkdir -p, each new folder for the owner alone.
  static bool MakeDirectories(const std::string& directory, std::string& why) {
    for (std::size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
      const std::string part = directory.substr(0, slash);
      if (::mkdir(part.c_str(), S_IRWXU) != 0 && errno != EEXIST) {
        why = Utf8ToCp1252(part) + ": " + Reason(errno);
        return false;
      }
      if (slash == std::string::npos) break;
    }
    struct stat st {};
    if (::stat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      why = Utf8ToCp1252(directory) + ": " + Reason(ENOTDIR);
      return false;
    }
    return true;
  }
};

}  // namespace

JournalStore& SystemJournalStore() {
  static PosixJournalStore store;
  return store;
}

}  // namespace mfu
