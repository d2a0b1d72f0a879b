// The log export's file dialog on Qt: a non-native QFileDialog, so that it
// behaves the same on every desktop. Window thread.
//
// It offers the request's filters in their order with request.filter_index
// selected, opens in request.initial_dir when one is given, proposes
// request.file in its name field, adds no extension to a typed name, and,
// as the flags ask, refuses a folder that does not exist (kOfnPathMustExist,
// notice 22) and asks before a new file is to be created (kOfnCreatePrompt,
// question 21, only Yes goes on). The dialog itself creates nothing.
#pragma once

#include "ui/window.h"

class QWidget;

namespace mfu {

// Runs the dialog described by `request` over `parent`; true with the full
// path (the file system's own bytes, NUL-terminated) in request.file on a
// choice. False on cancel, and when the chosen path does not fit
// request.file_capacity: a cut path would name another file.
bool RunQtFileDialog(QWidget* parent, FileDialogRequest& request);

}  // namespace mfu
