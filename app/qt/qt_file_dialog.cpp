#include "app/qt/qt_file_dialog.h"

namespace mfu {

// Placeholder until the export's dialog lands: always "cancelled".
bool RunQtFileDialog(QWidget*, FileDialogRequest&) { return false; }

}  // namespace mfu
