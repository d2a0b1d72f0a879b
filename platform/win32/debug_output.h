// Developer diagnostics on Windows go to the debugger output channel
// (OutputDebugStringA), where a debugger or DebugView shows them.
#pragma once

namespace mfu {

// The sink itself: OutputDebugStringA of the text. Any thread.
void DebuggerDiagSink(const char* text);

// Makes DebuggerDiagSink the diagnostics sink; the program calls it first
// thing, before any thread starts.
void UseDebuggerDiagnostics();

}  // namespace mfu
