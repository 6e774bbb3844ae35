// The progress dialog and the process monitor.
//
// While a started program runs, monitorProcess shows the progress dialog on a
// second thread, steps its bar once a second, runs the bar up to full when the
// program has exited (with a job: when every process in the job has) and closes
// the dialog. "Cancel" only stops the waiting: the
// watched program is never stopped. The two threads share one
// ProgressDialogContext and one manual-reset event, the only synchronisation.
//
// Touches no SetupState: the caller hands over the process and the product name.
#pragma once
#include <windows.h>

#include <cstdint>

#include "core/SetupState.h"

// Lives on the monitor's stack for one call. Not byte-packed: the handle that
// one thread publishes and the other reads must sit on its natural alignment for
// the interlocked access to be indivisible.
struct ProgressDialogContext {
    HANDLE processHandle;             // the watched process; the monitor's alone
    HWND dialogWindow;                // null until WM_INITDIALOG; interlocked access only
    char productName[textCapacity];   // shown in the text line
    int32_t cancelled;                // 1 when the dialog ended with Cancel; read after doneEvent
    HANDLE doneEvent;                 // set by the dialog thread when its dialog has ended
};

// Watches a run under the progress dialog: with a job, until the job has no
// active process left; with a null job, or once the job cannot be read, until
// the process has exited. Both handles are borrowed: the caller closes them.
// 0: the run ended and the dialog was closed. -1: the user cancelled (the run
// may go on). 258: the dialog ended before the run did, i.e. it could not be
// created (both failures already shown). Any other value: the Windows error
// code of a thread or event that could not be created (shown).
int32_t monitorProcess(HANDLE process, HANDLE job, const char* productName);

// Runs the modal dialog; sets doneEvent when it has ended. Exit code always 1.
DWORD WINAPI progressDialogThread(void* context);

INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Test seam: the calls a test must be able to make fail or slow down. A null
// pointer (or a null member) means the real call.
struct ProgressDialogCalls {
    HANDLE(WINAPI* createEvent)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR);
    HANDLE(WINAPI* createThread)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                 DWORD, LPDWORD);
    INT_PTR(WINAPI* dialogBoxParam)(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM);
    BOOL(WINAPI* endDialog)(HWND, INT_PTR);  // the monitor's end request
    BOOL(WINAPI* queryInformationJobObject)(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD, LPDWORD);
};
void setProgressDialogCalls(const ProgressDialogCalls* calls);
