// The program's exit statuses, the same for every front-end that has one.
#pragma once

namespace mfu {

inline constexpr int kExitSucceeded = 0;  // the flash loader reported success
inline constexpr int kExitFailed = 1;     // the update failed or was cancelled
inline constexpr int kExitNoModem = 2;    // no modem found, or no connection
inline constexpr int kExitDeclined = 3;   // no update was started
inline constexpr int kExitUsage = 64;     // a usage error

}  // namespace mfu
