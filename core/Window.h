// Placing the launcher's windows.
#pragma once
#include <windows.h>

// Centres a window on the screen's work area (the launcher's windows have no owner).
void centerWindowOnScreen(HWND window);

// A window of the launcher's for a prompt of Windows' own to belong to (the
// consent prompt of an elevated start): without one, Windows shows that prompt
// as a flashing taskbar button behind whatever is in front. An empty window at
// the centre of the screen, brought to the front; null when it cannot be made.
// The caller destroys it once the prompt is over.
HWND createPromptOwner();
