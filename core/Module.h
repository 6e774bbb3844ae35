// The module of the running program (for its path, dialog templates and
// bitmaps; set once at start-up, tests put another module in its place), and
// the system libraries it loads.
#pragma once
#include <windows.h>

HINSTANCE appInstance();
void setAppInstance(HINSTANCE instance);

// Loads a DLL from System32 by its full path, never from the launcher's folder.
HMODULE loadSystemLibrary(const char* fileName);
