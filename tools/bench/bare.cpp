// The references the benchmark compares the launcher with, built with the
// launcher's own compiler flags and run under the same Wine:
//
//   bare.exe                the least a Win32 GUI program does to show a modal
//                           dialog (an in-memory template, one button): start-up
//   bare.exe progress N     a dialog of the progress dialog's size and font
//                           (320 x 81 units, MS Shell Dlg 8) with a smooth bar
//                           of its size and place (306 x 14 at 7, 33) that a
//                           one-second timer steps, for N seconds: what showing
//                           that bar moving once a second costs at the least,
//                           the reference for the launcher's monitoring
//   bare.exe progress N threaded
//                           the same dialog on a second thread, its bar stepped
//                           by a message the first thread posts once a second:
//                           the launcher's own arrangement, with nothing else
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr int barId = 1001;
constexpr UINT_PTR stepTimer = 1;
UINT stepsLeft = 0;
bool timerSteps = true;
HWND volatile shownDialog = nullptr;

INT_PTR CALLBACK bareDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        if (stepsLeft > 0) {
            RECT bar = {7, 33, 7 + 306, 33 + 14};  // dialog units, as the progress dialog's bar
            MapDialogRect(dialog, &bar);
            CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | WS_BORDER | PBS_SMOOTH, bar.left,
                            bar.top, bar.right - bar.left, bar.bottom - bar.top, dialog,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(barId)), nullptr, nullptr);
            SendDlgItemMessageA(dialog, barId, PBM_SETRANGE, 0, MAKELPARAM(0, 300));
            SendDlgItemMessageA(dialog, barId, PBM_SETSTEP, 1, 0);
            if (timerSteps) SetTimer(dialog, stepTimer, 1000, nullptr);
            shownDialog = dialog;
        }
        return TRUE;
    }
    if (message == WM_TIMER && wParam == stepTimer) {
        SendDlgItemMessageA(dialog, barId, PBM_STEPIT, 0, 0);
        if (--stepsLeft == 0) EndDialog(dialog, IDOK);
        return TRUE;
    }
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

// With the font the progress dialog has (DS_SETFONT), so that its units match.
struct alignas(4) ProgressTemplate {
    DLGTEMPLATE dialog;
    WORD menu, windowClass, title[5], pointSize, face[13];
};

DWORD WINAPI dialogThread(void* parameter) {
    return static_cast<DWORD>(DialogBoxIndirectParamA(GetModuleHandleA(nullptr),
                                                      static_cast<DLGTEMPLATE*>(parameter), nullptr,
                                                      bareDialogProc, 0));
}

// Steps the bar of the dialog on the other thread once a second, then ends it.
int stepFromThisThread(DLGTEMPLATE* dialog) {
    HANDLE thread = CreateThread(nullptr, 0, dialogThread, dialog, 0, nullptr);
    if (thread == nullptr) return 2;
    for (UINT step = stepsLeft; step > 0; --step) {
        Sleep(1000);
        if (shownDialog != nullptr) PostMessageA(GetDlgItem(shownDialog, barId), PBM_STEPIT, 0, 0);
    }
    while (shownDialog == nullptr && WaitForSingleObject(thread, 100) == WAIT_TIMEOUT) {
    }
    if (shownDialog != nullptr) EndDialog(shownDialog, IDOK);
    WaitForSingleObject(thread, INFINITE);
    DWORD result = 0;
    GetExitCodeThread(thread, &result);
    CloseHandle(thread);
    return static_cast<int>(result);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    if (std::strncmp(commandLine, "progress ", 9) == 0) {
        stepsLeft = static_cast<UINT>(std::strtoul(commandLine + 9, nullptr, 10));
        INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&classes);
    }
    if (stepsLeft > 0) {
        ProgressTemplate p = {};
        p.dialog.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT;
        p.dialog.cx = 320;
        p.dialog.cy = 81;
        const WORD title[] = {'B', 'a', 'r', 'e', 0};
        for (int i = 0; i < 5; ++i) p.title[i] = title[i];
        p.pointSize = 8;
        const char face[] = "MS Shell Dlg";
        for (int i = 0; face[i] != 0; ++i) p.face[i] = static_cast<WORD>(face[i]);
        if (std::strstr(commandLine, "threaded") != nullptr) {
            timerSteps = false;
            return stepFromThisThread(&p.dialog);
        }
        return static_cast<int>(DialogBoxIndirectParamA(instance, &p.dialog, nullptr, bareDialogProc, 0));
    }
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
