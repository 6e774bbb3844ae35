// Placing the launcher's windows.
#pragma once
#include <windows.h>

// Centres a window on the screen's work area (the launcher's windows have no owner).
void centerWindowOnScreen(HWND window);
