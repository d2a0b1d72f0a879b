#include <cstdio>

#include "app/options.h"
#include "app/window_front_end.h"

namespace mfu {

int RunWindowFrontEnd(int, char**, const std::string&) {
  std::fputs("modem-update: this build has no window; run it with --console\n", stderr);
  return kExitUsage;
}

}  // namespace mfu
