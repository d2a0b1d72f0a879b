#include "tests/support/fake_session.h"

#include "ui/log.h"

namespace mfu::test {

void PlaceholderSession::AppendPlaceholderLines() {
  AppendLogString(2009);
  AppendLogString(2010);
  AppendLogString(2014);
}

}  // namespace mfu::test
