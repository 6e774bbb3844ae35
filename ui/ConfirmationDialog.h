// The installation confirmation: a modal dialog (template 131) with the banner
// and a bold text naming the product and the launcher's version; "Install" lets
// the run go on, "Cancel" (or Escape, or a close request) ends it.
//
// Writes confirmationText and bannerBitmapId of SetupState (only when setup.ini
// names this product) and bannerBitmap (when the dialog opens; it lives until
// the process ends). Reads nothing else.
#pragma once
#include <windows.h>

#include <cstdint>

struct SetupState;

// Checks the product code, prepares the text and the banner id and runs the
// dialog. Status 0: the dialog ended with Install (cancelled 0) or Cancel
// (cancelled 1). -1: setup.ini does not name this product, or the dialog could
// not be created or failed; the user has been told once. cancelled is always written.
int32_t confirmInstallation(const char* productNameText, SetupState& state, const char* productGuidText,
                            int32_t& cancelled);

// Runs the dialog for the prepared record; the same status and cancelled flag.
int32_t runConfirmationDialog(SetupState& state, int32_t& cancelled);

// The dialog procedure; lParam of WM_INITDIALOG is the SetupState, borrowed.
INT_PTR CALLBACK confirmationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
