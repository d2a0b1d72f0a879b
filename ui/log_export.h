// "Log Speichern": appends the log pane's whole text to a file the user picks,
// between a dated header and a trailer. Window thread.
#pragma once

namespace mfu {

// Handler of button 1012.
void OnSaveLog();

}  // namespace mfu
