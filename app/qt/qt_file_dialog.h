// The log export's file dialog on Qt. Window thread.
#pragma once

#include "ui/window.h"

class QWidget;

namespace mfu {

// Runs the dialog described by `request` over `parent`; true with the full
// path in request.file on a choice.
bool RunQtFileDialog(QWidget* parent, FileDialogRequest& request);

}  // namespace mfu
