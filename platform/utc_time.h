// Calendar time in UTC and its asctime text, without the C library's shared
// static buffers (gmtime and asctime are not safe across threads).
#pragma once

#include <cstdint>
#include <string>

namespace mfu {

// The fixed 25-byte form of asctime for `seconds` since 1970-01-01 00:00 UTC:
// "Tue Oct 13 16:34:34 1998\n".
std::string AscTimeUtc(std::int64_t seconds);

}  // namespace mfu
