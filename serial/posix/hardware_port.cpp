#include "serial/posix/hardware_port.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstring>
#include <string>

namespace mfu {

bool IsHardwareTty(const char* path) {
  struct stat status {};
  if (path == nullptr || ::stat(path, &status) != 0 || !S_ISCHR(status.st_mode)) return false;
  const unsigned major_number = major(status.st_rdev);
  const unsigned minor_number = minor(status.st_rdev);
  // Pseudo-terminal sides: the Unix 98 slaves (136..143), the old BSD-style
  // masters and slaves (2, 3) and the multiplexer /dev/ptmx (5:2).
  if ((major_number >= 136 && major_number <= 143) || major_number == 2 || major_number == 3 ||
      (major_number == 5 && minor_number == 2)) {
    return false;
  }
  // Every tty driver's device shows in sysfs under a "tty" class directory.
  const std::string link = "/sys/dev/char/" + std::to_string(major_number) + ":" + std::to_string(minor_number);
  char resolved[PATH_MAX];
  if (::realpath(link.c_str(), resolved) == nullptr) return false;
  return std::strstr(resolved, "/tty/") != nullptr;
}

bool NetworkPortIsHardware(const char* simulated_line) {
  return simulated_line == nullptr || std::strcmp(simulated_line, "1") != 0;
}

// The program never changes its own environment, so reading it from any
// thread is safe.
bool NetworkPortIsHardware() {
  return NetworkPortIsHardware(::getenv(kSimulatedLineVariable));  // NOLINT(concurrency-mt-unsafe)
}

}  // namespace mfu
