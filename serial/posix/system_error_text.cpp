// The system's words for a port error on POSIX: strerror_r of the errno the
// backend saw, or of the errno that stands behind the port's error code.
#include <errno.h>
#include <string.h>

#include <string>

#include "serial/serial_device.h"

namespace mfu {
namespace {

int ErrnoOf(std::uint32_t error) {
  switch (error) {
    case kErrorFileNotFound: return ENOENT;
    case kErrorAccessDenied: return EACCES;
    case kErrorInvalidHandle: return EBADF;
    case kErrorSharingViolation: return EBUSY;
    case kErrorInvalidParameter: return EINVAL;
    case kErrorOperationAborted: return ECANCELED;
    case kErrorNotReady: return EAGAIN;
    // A tty whose other end hung up, or a USB adapter pulled out, reads
    // with EIO.
    default: return EIO;
  }
}

// Both variants of strerror_r: the GNU one returns the text, the XSI one
// fills the buffer.
[[maybe_unused]] const char* TextOf(int result, const char* buffer) { return result == 0 ? buffer : "?"; }
[[maybe_unused]] const char* TextOf(const char* text, const char*) { return text; }

}  // namespace

std::string SystemErrorText(std::uint32_t error, int system_error) {
  char buffer[256] = {};
  std::string text = TextOf(strerror_r(system_error != 0 ? system_error : ErrnoOf(error), buffer, sizeof buffer), buffer);
  while (!text.empty() && (text.back() == '.' || text.back() == ' ' || text.back() == '\n')) text.pop_back();
  return text;
}

}  // namespace mfu
