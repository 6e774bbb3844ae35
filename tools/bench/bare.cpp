// The reference for the launcher's start-up cost: the least a Win32 GUI program
// does to show a modal dialog (an in-memory template, one button), built with the
// launcher's own compiler flags and run under the same Wine.
#include <windows.h>

namespace {

INT_PTR CALLBACK bareDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

struct alignas(4) BareTemplate {
    DLGTEMPLATE dialog;
    WORD menu, windowClass, title[5];
    DLGITEMTEMPLATE button;
    WORD buttonClass[2], buttonText[3], extra;
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    BareTemplate t = {};
    t.dialog.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER;
    t.dialog.cdit = 1;
    t.dialog.cx = 160;
    t.dialog.cy = 60;
    const WORD title[] = {'B', 'a', 'r', 'e', 0};
    for (int i = 0; i < 5; ++i) t.title[i] = title[i];
    t.button.style = WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON;
    t.button.x = 55;
    t.button.y = 35;
    t.button.cx = 50;
    t.button.cy = 14;
    t.button.id = IDOK;
    t.buttonClass[0] = 0xFFFF;
    t.buttonClass[1] = 0x0080;
    t.buttonText[0] = 'O';
    t.buttonText[1] = 'K';
    return static_cast<int>(DialogBoxIndirectParamA(instance, &t.dialog, nullptr, bareDialogProc, 0));
}
