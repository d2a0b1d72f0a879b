// Who else has a port open: every process's /proc/PID/fd links, compared by
// device number, named by /proc/PID/comm. Processes of other users stay
// unseen to an unprivileged user; that only makes the answer shorter.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "serial/posix/posix_ports.h"

namespace mfu {
namespace {

constexpr unsigned kPtySlaveMajor = 136;  // devpts slaves: /dev/pts/N is (136, N)
constexpr unsigned kPtmxMajor = 5;
constexpr unsigned kPtmxMinor = 2;

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

bool IsNumber(const char* name) {
  if (*name == '\0') return false;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9') return false;
  }
  return true;
}

// The pseudo-terminal a /dev/ptmx descriptor is the master of ("tty-index"
// of its fdinfo), or -1.
long MasterIndex(const std::string& pid, const char* fd) {
  std::ifstream info("/proc/" + pid + "/fdinfo/" + fd);
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

std::string CommandName(const std::string& pid) {
  std::ifstream comm("/proc/" + pid + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

}  // namespace

std::vector<PortHolder> FindOtherHolders(const std::string& path) {
  std::vector<PortHolder> holders;
  struct stat port{};
  if (::stat(path.c_str(), &port) != 0) return holders;
  const bool is_device = S_ISCHR(port.st_mode);
  const long pty_index =
      is_device && major(port.st_rdev) == kPtySlaveMajor ? static_cast<long>(minor(port.st_rdev)) : -1;
  const std::string self = std::to_string(::getpid());

  Dir proc(::opendir("/proc"));
  if (!proc) return holders;
  while (const dirent* process = ::readdir(proc.get())) {
    if (!IsNumber(process->d_name) || self == process->d_name) continue;
    const std::string pid = process->d_name;
    Dir fds(::opendir(("/proc/" + pid + "/fd").c_str()));
    if (!fds) continue;  // gone, or another user's
    bool holds = false;
    bool far_end = false;
    while (const dirent* fd = ::readdir(fds.get())) {
      if (!IsNumber(fd->d_name)) continue;
      struct stat target{};
      if (::stat(("/proc/" + pid + "/fd/" + fd->d_name).c_str(), &target) != 0) continue;
      if (is_device ? (S_ISCHR(target.st_mode) && target.st_rdev == port.st_rdev)
                    : (target.st_dev == port.st_dev && target.st_ino == port.st_ino)) {
        holds = true;
      } else if (pty_index >= 0 && S_ISCHR(target.st_mode) && major(target.st_rdev) == kPtmxMajor &&
                 minor(target.st_rdev) == kPtmxMinor && MasterIndex(pid, fd->d_name) == pty_index) {
        far_end = true;
      }
    }
    if (holds && !far_end) holders.push_back(PortHolder{CommandName(pid), std::atoi(pid.c_str())});
  }
  std::sort(holders.begin(), holders.end(), [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
  return holders;
}

}  // namespace mfu
