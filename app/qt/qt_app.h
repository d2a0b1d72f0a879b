// Entry point of the Qt front-end: creates the application and the update
// window, makes it the program's MainDialog for every thread, runs it until it
// closes, clears MainDialog and returns the program's exit status (kExit*:
// how far the run came and the update's outcome). Should the toolkit end the
// program with exit() during the run (it does so on the GUI thread when it
// loses its display), an exit handler stops the session first, as the close
// box would: the port is closed with its settings restored and the session's
// threads are joined. GUI thread, once at a time.
//
// Where no display can be reached (none named, or the one named does not
// answer) it calls `report_no_display` and the program ends with kExitDeclined
// instead of the toolkit's abort; that call may come from inside the toolkit's
// fatal-error path, so it should only write to stderr.
#pragma once

#include "app/update_dialog.h"

namespace mfu {

using NoDisplayReport = void (*)();

int RunQtApplication(int argc, char** argv, SessionControl& session, NoDisplayReport report_no_display);

// Qt's own texts (the file dialog's labels, a message box's standard buttons)
// in German, as the rest of the window, whatever the user's locale; false when
// the translation is not installed. After the QApplication is made.
bool InstallGermanQtTexts();

}  // namespace mfu
