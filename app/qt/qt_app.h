// Entry point of the Qt front-end: creates the application and the update
// window, makes it the program's MainDialog for every thread, runs it until it
// closes, clears MainDialog and returns the program's exit status (kExit*:
// how far the run came and the update's outcome). Should the toolkit end the
// program with exit() during the run (it does so on the GUI thread when it
// loses its display), an exit handler stops the session first, as the close
// box would: the port is closed with its settings restored and the session's
// threads are joined. GUI thread, once at a time.
#pragma once

#include "app/update_dialog.h"

namespace mfu {

int RunQtApplication(int argc, char** argv, SessionControl& session);

}  // namespace mfu
