// Signals to the window program. SIGTERM (and Ctrl-C in the terminal that
// started it) end the update as the close box does with its question
// answered Yes: ZABORT to the modem, the interruption in the log, the port
// restored, exit status 1. SIGHUP (that terminal closed) changes nothing:
// the window is still there.
//
// The handler only writes a byte to a pipe; the GUI thread reads it through a
// socket notifier and calls the dialog. GUI thread; once per program.
#pragma once

#include <QObject>

#include "app/update_dialog.h"

namespace mfu {

// Watches for the signals while `owner` lives (it must outlive nothing the
// dialog needs: make it the window).
void WatchTerminationSignals(UpdateDialog& dialog, QObject* owner);

}  // namespace mfu
