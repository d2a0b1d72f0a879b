// Developer diagnostics: short English lines, each ending in "\n", for the
// developer's eyes only (stderr on Linux, the debugger channel on Windows).
// Nothing here reaches the user; user texts go to the log pane.
#pragma once

namespace mfu {

// Writes one diagnostic text as it stands. Any thread.
void Diag(const char* text);

// printf-style diagnostic, formatted into a buffer of its own (512 bytes, cut
// beyond that). Any thread.
void DiagF(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Where diagnostics go. The default writes to stderr; the Windows build sets
// OutputDebugStringA, tests set a recorder. Set it before threads start.
using DiagSink = void (*)(const char* text);
void SetDiagSink(DiagSink sink);

}  // namespace mfu
