#include "platform/win32/debug_output.h"

#include <windows.h>

#include "platform/diag.h"

namespace mfu {

void DebuggerDiagSink(const char* text) { OutputDebugStringA(text); }

void UseDebuggerDiagnostics() { SetDiagSink(&DebuggerDiagSink); }

}  // namespace mfu
