// Who else has a port open: every process's /proc/PID/fd links, compared by
// device number, named by /proc/PID/comm. The descriptors of other users'
// processes stay unseen to an unprivileged user: that such processes exist is
// told, so that a busy port without a visible holder is not left unexplained.
// Their command names are readable by all.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "serial/posix/posix_ports.h"

namespace mfu {
namespace {

constexpr unsigned kPtySlaveMajor = 136;  // devpts slaves: /dev/pts/N is (136, N)
constexpr unsigned kPtmxMajor = 5;
constexpr unsigned kPtmxMinor = 2;

namespace fs = std::filesystem;

// The number a /proc entry or an fd entry is named by, or -1.
long NumberOf(const std::string& name) {
  long number = -1;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
  return error == std::errc() && end == name.data() + name.size() ? number : -1;
}

// The pseudo-terminal a /dev/ptmx descriptor is the master of ("tty-index"
// of its fdinfo), or -1.
long MasterIndex(const fs::path& process, const std::string& fd) {
  std::ifstream info(process / "fdinfo" / fd);
  std::string key;
  long index = -1;
  while (info >> key) {
    if (key == "tty-index:") {
      info >> index;
      break;
    }
  }
  return index;
}

std::string CommandName(const fs::path& process) {
  std::ifstream comm(process / "comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

}  // namespace

std::vector<PortHolder> FindOtherHolders(const std::string& path, const std::string& proc, bool* hidden) {
  std::vector<PortHolder> holders;
  if (hidden != nullptr) *hidden = false;
  struct stat port{};
  if (::stat(path.c_str(), &port) != 0) return holders;
  const bool is_device = S_ISCHR(port.st_mode);
  const long pty_index =
      is_device && major(port.st_rdev) == kPtySlaveMajor ? static_cast<long>(minor(port.st_rdev)) : -1;
  const long self = ::getpid();

  // Processes come and go while we look: every step takes an error code, so
  // that one that vanishes ends only its own listing, and nothing throws.
  std::error_code error;
  for (fs::directory_iterator process(proc, error), end; !error && process != end; process.increment(error)) {
    const std::string pid = process->path().filename().string();
    const long number = NumberOf(pid);
    if (number < 0 || number == self) continue;
    bool holds = false;
    bool far_end = false;
    std::error_code fd_error;  // a process that is gone, or another user's
    for (fs::directory_iterator fd_entry(process->path() / "fd", fd_error); !fd_error && fd_entry != end;
         fd_entry.increment(fd_error)) {
      const std::string fd = fd_entry->path().filename().string();
      struct stat target{};
      if (NumberOf(fd) < 0 || ::stat(fd_entry->path().c_str(), &target) != 0) continue;
      if (is_device ? (S_ISCHR(target.st_mode) && target.st_rdev == port.st_rdev)
                    : (target.st_dev == port.st_dev && target.st_ino == port.st_ino)) {
        holds = true;
      } else if (pty_index >= 0 && S_ISCHR(target.st_mode) && major(target.st_rdev) == kPtmxMajor &&
                 minor(target.st_rdev) == kPtmxMinor && MasterIndex(process->path(), fd) == pty_index) {
        far_end = true;
      }
    }
    // Another user's process: its descriptors are not ours to read.
    if (hidden != nullptr && (fd_error == std::errc::permission_denied || fd_error == std::errc::operation_not_permitted)) {
      *hidden = true;
    }
    if (holds && !far_end) holders.push_back(PortHolder{CommandName(process->path()), static_cast<int>(number)});
  }
  std::sort(holders.begin(), holders.end(), [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
  return holders;
}

bool ProcessRuns(const std::string& name, const std::string& proc) {
  std::error_code error;
  for (fs::directory_iterator process(proc, error), end; !error && process != end; process.increment(error)) {
    if (NumberOf(process->path().filename().string()) < 0) continue;
    if (CommandName(process->path()) == name) return true;
  }
  return false;
}

}  // namespace mfu
