// The progress dialog and the process monitor.
//
// While a started program runs, monitorProcess shows the progress dialog on a
// second thread, steps its bar once a second, runs the bar up to full when the
// run is over (the program has exited, or the caller's test of the run's end says
// so) and closes the dialog. "Cancel" only stops the waiting: the watched program
// is never stopped. The two threads share one ProgressDialogContext and one
// manual-reset event, the only synchronisation.
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
    HANDLE processHandle;            // the watched process; the monitor's alone
    HWND dialogWindow;               // null until WM_INITDIALOG; interlocked access only
    char productName[textCapacity];  // shown in the text line
    int32_t cancelled;               // 1 when the dialog ended with Cancel; read after doneEvent
    HANDLE doneEvent;                // set by the dialog thread when its dialog has ended
};

// The caller's test of whether the run it watches is over, made in place of the
// process's own end once per step of the bar (on the monitor's thread, never
// more often). isOver is given state.
struct RunEndTest {
    bool (*isOver)(void* state);
    void* state;
};

// Watches a run under the progress dialog: until runEnd says it is over, or,
// with a null runEnd, until the process has exited. The handle is borrowed: the
// caller closes it. 0: the run ended and the dialog was closed. -1: the user
// cancelled (the run may go on). 258: the dialog ended before the run did, i.e.
// it could not be created (both failures already shown). Any other value: the
// Windows error code of a thread or event that could not be created (shown).
int32_t monitorProcess(HANDLE process, const RunEndTest* runEnd, const char* productName);

// Runs the modal dialog; sets doneEvent when it has ended. Exit code always 1.
DWORD WINAPI progressDialogThread(void* context);

INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Test seam: the calls a test must be able to make fail or slow down. A null
// pointer (or a null member) means the real call.
struct ProgressDialogCalls {
    HANDLE(WINAPI* createEvent)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR);
    decltype(&CreateThread) createThread;
    INT_PTR(WINAPI* dialogBoxParam)(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM);
    BOOL(WINAPI* endDialog)(HWND, INT_PTR);  // the monitor's end request
};
void setProgressDialogCalls(const ProgressDialogCalls* calls);
