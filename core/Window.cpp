#include "core/Window.h"

#include "core/Module.h"
#include "core/UserTexts.h"

void centerWindowOnScreen(HWND window) {
    RECT windowRect;
    RECT area;
    if (!GetWindowRect(window, &windowRect)) return;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
        area.left = area.top = 0;
        area.right = GetSystemMetrics(SM_CXSCREEN);
        area.bottom = GetSystemMetrics(SM_CYSCREEN);
    }
    int width = windowRect.right - windowRect.left;
    int height = windowRect.bottom - windowRect.top;
    int x = area.left + ((area.right - area.left) - width) / 2;
    int y = area.top + ((area.bottom - area.top) - height) / 2;
    if (x < area.left) x = area.left;
    if (y < area.top) y = area.top;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND createPromptOwner() {
    // No size: the prompt centres itself on it, and there is nothing to draw.
    HWND window = CreateWindowExA(0, "STATIC", captionSetup, WS_POPUP | WS_VISIBLE, 0, 0, 0, 0, nullptr,
                                  nullptr, appInstance(), nullptr);
    if (window == nullptr) return nullptr;
    centerWindowOnScreen(window);
    SetForegroundWindow(window);
    return window;
}
