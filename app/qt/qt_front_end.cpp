#include "app/qt/qt_app.h"
#include "app/real_session.h"
#include "app/window_front_end.h"

namespace mfu {

int RunWindowFrontEnd(int argc, char** argv) {
  RealSession session;
  return RunQtApplication(argc, argv, session);
}

}  // namespace mfu
