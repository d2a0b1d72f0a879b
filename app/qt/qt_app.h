// Entry point of the Qt front-end: creates the application and the update
// window, makes it the program's MainDialog for every thread, runs it until it
// closes, clears MainDialog and returns the program's exit status (kExit*:
// how far the run came and the update's outcome).
#pragma once

#include "app/update_dialog.h"

namespace mfu {

int RunQtApplication(int argc, char** argv, SessionControl& session);

}  // namespace mfu
