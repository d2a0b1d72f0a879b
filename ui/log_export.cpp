#include "ui/log_export.h"

namespace mfu {

// Placeholder until the export lands: nothing is written.
void OnSaveLog() {}

}  // namespace mfu
