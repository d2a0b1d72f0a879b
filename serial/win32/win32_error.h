// The one place where Win32 error numbers become the port code's kError*
// codes.
#pragma once

#include <cstdint>

namespace mfu {

// The port code numbers its errors as Win32 does, so most codes pass through
// unchanged; the few that say the same thing in other words are folded onto
// the code the port code tests for.
std::uint32_t MapWin32Error(std::uint32_t win32_error);

}  // namespace mfu
