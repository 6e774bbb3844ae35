// Resource and control ids, shared by the resource script and the code.
#pragma once

#define IDI_KORVANE 128
#define IDD_PROGRESS 102
#define IDD_CONFIRMATION 131
#define IDB_BANNER 137

// Progress dialog controls.
#define IDC_PROGRESS_TEXT 1000
#define IDC_PROGRESS_BAR 1001
// Confirmation dialog controls.
#define IDC_BANNER_FRAME 1002
#define IDC_CONFIRMATION_TEXT 1003

// Dialog styles as one number each, so that the resource compiler adds nothing
// to them; the dialogs' code checks them against the windows.h names.
#define CONFIRMATION_DIALOG_STYLE 0x80C000C8
#define PROGRESS_DIALOG_STYLE 0x90C800C8
#define PROGRESS_DIALOG_EXSTYLE 0x00040000
