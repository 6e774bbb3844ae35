#include "ui/ConfirmationDialog.h"

#include <richedit.h>

#include <cstring>

#include "app/Framework.h"
#include "core/SetupState.h"
#include "core/SystemError.h"
#include "core/Version.h"
#include "res/ResourceIds.h"
#include "ui/ConfirmationRules.h"

namespace {

SetupState* stateOf(HWND dialog) {
    return reinterpret_cast<SetupState*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// The code a failure is shown with. Calls that failed without setting one (the
// rich edit's messages, some GDI calls) must not show "The operation completed
// successfully."; they get a code of their own that says the step did not work.
DWORD failureCode(DWORD lastError) { return lastError != 0 ? lastError : ERROR_CAN_NOT_COMPLETE; }

// Ends the dialog first and tells the user afterwards: an ended dialog is hidden,
// so the error box cannot uncover it and bring on another paint, and another box.
void failDialog(HWND dialog, DWORD lastError) {
    EndDialog(dialog, confirmationFailedAndReported);
    reportSystemError(failureCode(lastError));
}

// Bold, 8.5 points, black; face and character set stay the control's own.
bool setTextFormat(HWND dialog) {
    CHARFORMATA format;
    std::memset(&format, 0, sizeof format);
    format.cbSize = sizeof format;  // 60
    format.dwMask = CFM_SIZE | CFM_COLOR | CFM_BOLD;
    format.dwEffects = CFE_BOLD;
    format.yHeight = 170;  // twips
    format.yOffset = 0;
    format.crTextColor = RGB(0, 0, 0);
    SetLastError(0);
    return SendDlgItemMessageA(dialog, IDC_CONFIRMATION_TEXT, EM_SETCHARFORMAT, SCF_SELECTION,
                               reinterpret_cast<LPARAM>(&format)) != 0;
}

// Inserted at the freshly created control's empty selection, so the text takes
// the format just set there.
bool setText(HWND dialog, const char* text) {
    SETTEXTEX insertion;
    insertion.flags = ST_SELECTION;
    insertion.codepage = CP_ACP;
    SetLastError(0);
    return SendDlgItemMessageA(dialog, IDC_CONFIRMATION_TEXT, EM_SETTEXTEX,
                               reinterpret_cast<WPARAM>(&insertion),
                               reinterpret_cast<LPARAM>(text)) != 0;
}

void initialise(HWND dialog, LPARAM lParam) {
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    SetupState& state = *stateOf(dialog);
    centerWindowOnScreen(dialog);
    const WORD bitmapId = LOWORD(state.bannerBitmapId);
    // Stored untested: a missing banner shows up when the dialog paints.
    state.bannerBitmap = bitmapId == 0 ? nullptr : LoadBitmapA(appInstance(), MAKEINTRESOURCEA(bitmapId));
    // Each message starts from a clear last error, so that a stale code from
    // before is never shown for it: a missing control sets one, a rich edit that
    // refuses sets none.
    if (!setTextFormat(dialog)) failDialog(dialog, GetLastError());
    if (!setText(dialog, state.confirmationText)) failDialog(dialog, GetLastError());
}

// Puts the banner into the frame's area (client coordinates of the dialog).
// The frame is 313 x 88 dialog units: at 96 dpi with the shell font that is the
// bitmap's width, 469 px, and the banner is copied pixel for pixel, as large as
// the frame. Dialog units round to pixels per edge on Windows and per size under
// Wine, so the same frame may come out 470 px; a one-pixel difference is still
// copied exactly, since the frame's own 1-px black border covers that column and
// stretching by one pixel would only blur the whole picture. The launcher is
// DPI-aware, so at higher dpi the frame grows (half as wide again at 144 dpi), as
// it does under a wider substitute for the shell font; an exact copy would leave
// the rest of the frame unpainted, so there the whole picture is stretched onto
// the whole frame, none of the artwork cut off. The width alone decides: at 96 dpi
// the frame is 143 px high for a 141-px picture and still gets the exact copy.
// HALFTONE averages source pixels rather than dropping them; it needs the brush
// origin set after the mode.
bool drawBanner(HDC target, const RECT& frame, HDC memory, const BITMAP& picture) {
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    if (width >= picture.bmWidth - 1 && width <= picture.bmWidth + 1)
        return BitBlt(target, frame.left, frame.top, width, height, memory, 0, 0, SRCCOPY) != FALSE;
    SetStretchBltMode(target, HALFTONE);
    SetBrushOrgEx(target, 0, 0, nullptr);
    return StretchBlt(target, frame.left, frame.top, width, height, memory, 0, 0, picture.bmWidth,
                      picture.bmHeight, SRCCOPY) != FALSE;
}

// Paints the banner into the client area of the frame control.
void paint(HWND dialog) {
    SetupState& state = *stateOf(dialog);
    PAINTSTRUCT paintInfo;
    HDC target = BeginPaint(dialog, &paintInfo);
    // GDI calls may fail without a code of their own: never show a stale one.
    SetLastError(0);
    HDC memory = CreateCompatibleDC(target);
    if (memory == nullptr) {
        const DWORD code = GetLastError();
        EndPaint(dialog, &paintInfo);
        failDialog(dialog, code);
        return;
    }
    RECT frame;
    GetClientRect(GetDlgItem(dialog, IDC_BANNER_FRAME), &frame);
    HBITMAP banner = static_cast<HBITMAP>(state.bannerBitmap);
    BITMAP picture;
    bool painted = GetObjectA(banner, sizeof picture, &picture) != 0 &&
                   SelectObject(memory, banner) != nullptr &&
                   MapWindowPoints(GetDlgItem(dialog, IDC_BANNER_FRAME), dialog,
                                   reinterpret_cast<POINT*>(&frame), 2) != 0 &&
                   drawBanner(target, frame, memory, picture);
    const DWORD code = painted ? 0 : GetLastError();
    DeleteDC(memory);
    EndPaint(dialog, &paintInfo);
    if (!painted) failDialog(dialog, code);
}

}  // namespace

INT_PTR CALLBACK confirmationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        initialise(dialog, lParam);
        return TRUE;
    case WM_PAINT:
        paint(dialog);
        return TRUE;
    case WM_CLOSE:
        // A close request ends the dialog exactly as the Cancel button does.
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) EndDialog(dialog, confirmationInstall);
        else if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, confirmationCancel);
        return TRUE;
    default:
        return FALSE;
    }
}

int32_t runConfirmationDialog(SetupState& state, int32_t& cancelled) {
    cancelled = 0;
    const INT_PTR result =
        DialogBoxParamA(appInstance(), MAKEINTRESOURCEA(IDD_CONFIRMATION), nullptr,
                        confirmationDialogProc, reinterpret_cast<LPARAM>(&state));
    const ConfirmationOutcome outcome = mapConfirmationEnd(result);
    if (outcome.reportLastError) reportSystemError(failureCode(GetLastError()));
    cancelled = outcome.cancelled;
    return outcome.status;
}

int32_t confirmInstallation(const char* productNameText, SetupState& state,
                            const char* productGuidText, int32_t& cancelled) {
    cancelled = 0;
    char builtInVersion[displayVersionCapacity];
    formatFileVersion(builtInVersion, builtInVersionText, sizeof builtInVersion);
    // Without this product's code there is nothing to confirm: say why, once,
    // rather than letting an empty dialog fail with the system's text for success.
    if (const char* mismatch = productCodeMismatchText(productGuidText)) {
        reportFailure(mismatch);
        return -1;
    }
    formatConfirmationText(state.confirmationText, sizeof state.confirmationText, productNameText,
                           builtInVersion);
    state.bannerBitmapId = bannerBitmapResource;
    return runConfirmationDialog(state, cancelled);
}
