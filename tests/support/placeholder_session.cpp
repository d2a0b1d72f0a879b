#include "tests/support/placeholder_session.h"

#include "ui/log.h"

namespace mfu {

void PlaceholderSession::SetupCommPort() {
  AppendLogString(2009);
  AppendLogString(2010);
  AppendLogString(2014);
}

}  // namespace mfu
