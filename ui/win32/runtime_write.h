// Writing through a C runtime descriptor on Windows, for the log export's
// files and the journal's: the caller owns the descriptor; one thread at a
// time per descriptor.
#pragma once

#include <io.h>

#include <climits>
#include <cstddef>

namespace mfu {

// Writes all `size` bytes to `fd`, in pieces that _write takes whole. In
// text mode _write's result counts the bytes taken from `data`, before the
// "\r" are added. False when a _write fails or takes nothing; what reached
// the file stays.
inline bool RuntimeWriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const unsigned piece = size > static_cast<std::size_t>(INT_MAX / 2) ? INT_MAX / 2 : static_cast<unsigned>(size);
    const int written = ::_write(fd, data, piece);
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace mfu
