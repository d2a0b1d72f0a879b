// The program's own module, through which every string-table load and the
// firmware lookup reach the resources.
#pragma once

#include <windows.h>

namespace mfu {

// The module WinMain was given, or until then the one that started the
// process (GetModuleHandleA(nullptr)).
HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

}  // namespace mfu
