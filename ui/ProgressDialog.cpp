#include "ui/ProgressDialog.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "core/Module.h"
#include "core/Pacing.h"
#include "core/SystemError.h"
#include "core/Text.h"
#include "core/UserTexts.h"
#include "core/Window.h"
#include "res/ResourceIds.h"

static_assert(PROGRESS_DIALOG_STYLE == (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                                        DS_SETFONT | DS_FIXEDSYS),
              "visible popup with caption, system menu, modal frame and the shell font");
static_assert(PROGRESS_DIALOG_EXSTYLE == WS_EX_APPWINDOW, "on the taskbar");
static_assert(monitorDialogTimeout == WAIT_TIMEOUT, "a dialog that ended before the program did");

namespace {

// Written only by tests, while no monitor runs.
ProgressDialogCalls testCalls = {};

HANDLE createDoneEvent() {
    auto create = testCalls.createEvent != nullptr ? testCalls.createEvent : CreateEventA;
    return create(nullptr, TRUE, FALSE, nullptr);
}

HANDLE startDialogThread(ProgressDialogContext& context) {
    auto create = testCalls.createThread != nullptr ? testCalls.createThread : CreateThread;
    return create(nullptr, 0, progressDialogThread, &context, 0, nullptr);
}

INT_PTR runDialog(ProgressDialogContext& context) {
    auto run = testCalls.dialogBoxParam != nullptr ? testCalls.dialogBoxParam : DialogBoxParamA;
    return run(appInstance(), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, progressDialogProc,
               reinterpret_cast<LPARAM>(&context));
}

void publishWindow(ProgressDialogContext& context, HWND dialog) {
    InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&context.dialogWindow), dialog);
}

// Read afresh for every request, so that a dialog that comes up late is reached.
HWND currentWindow(ProgressDialogContext& context) {
    return static_cast<HWND>(InterlockedCompareExchangePointer(
        reinterpret_cast<void* volatile*>(&context.dialogWindow), nullptr, nullptr));
}

// The bar of the dialog, looked up once it has come up and then kept: the
// look-up asks the window server for the dialog's children, a round trip that
// would otherwise come with every step. Null while the dialog is not up.
HWND progressBar(ProgressDialogContext& context, HWND& bar) {
    if (bar != nullptr) return bar;
    HWND dialog = currentWindow(context);
    if (dialog != nullptr) bar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
    return bar;
}

// A null window would make PostMessage post to this thread's own queue: there
// is none before the dialog has come up, and none inside it once it has gone.
// Once the dialog has gone, a step to its bar fails without effect.
void postStep(ProgressDialogContext& context, HWND& bar) {
    if (progressBar(context, bar) == nullptr) return;
    PostMessageA(bar, PBM_STEPIT, 0, 0);
}

int barPosition(ProgressDialogContext& context, HWND& bar) {
    if (progressBar(context, bar) == nullptr) return 0;
    return static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
}

// Paced against the clock, not by a fixed sleep per step: a 5 ms sleep lasts
// longer on most systems (up to a whole timer tick), and the run-up must stay
// within 300 x 5 ms.
void runUpBar(ProgressDialogContext& context, HWND& bar) {
    int position = barPosition(context, bar);
    DWORD start = GetTickCount();
    DWORD due = 0;
    for (int step = position; step < progressRangeMax; ++step) {
        postStep(context, bar);
        due += runUpStepPauseMs;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed < due) Sleep(due - elapsed);
    }
}

// False while the dialog has not come up yet: the request must be made again.
bool requestEnd(ProgressDialogContext& context) {
    HWND dialog = currentWindow(context);
    if (dialog == nullptr) return false;
    auto end = testCalls.endDialog != nullptr ? testCalls.endDialog : EndDialog;
    end(dialog, 0);
    return true;
}

// A failed wait on the process counts as a running process.
bool runEnded(HANDLE process, const RunEndTest* runEnd) {
    if (runEnd != nullptr) return runEnd->isOver(runEnd->state);
    return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

// Shows the dialog on its own thread and steps its bar until the program's run
// and the dialog have both ended. The caller owns the done event.
int32_t watchUnderDialog(ProgressDialogContext& context, const RunEndTest* runEnd) {
    bool processEnded = false;
    bool endRequested = false;
    HWND bar = nullptr;
    HANDLE thread = startDialogThread(context);
    if (thread == nullptr) return reportFailureCode(GetLastError());
    // Only the event tells when the dialog is over; the thread handle is not needed.
    CloseHandle(thread);

    while (WaitForSingleObject(context.doneEvent, 0) != WAIT_OBJECT_0) {
        if (processEnded) {
            if (!endRequested) endRequested = requestEnd(context);
            // Waiting for a dialog that has not come up yet: do not spin a core.
            if (!endRequested) Sleep(runUpStepPauseMs);
            continue;
        }
        if (!runEnded(context.processHandle, runEnd)) {
            postStep(context, bar);
            Sleep(monitorStepPauseMs);
            continue;
        }
        processEnded = true;
        runUpBar(context, bar);
        endRequested = requestEnd(context);
    }

    // The event orders the dialog thread's write of cancelled before this read.
    if (context.cancelled != 0) return -1;
    if (!processEnded) return reportSystemError(monitorDialogTimeout);
    return 0;
}

}  // namespace

void setProgressDialogCalls(const ProgressDialogCalls* calls) {
    testCalls = calls != nullptr ? *calls : ProgressDialogCalls{};
}

int32_t monitorProcess(HANDLE process, const RunEndTest* runEnd, const char* productName) {
    ProgressDialogContext context;
    std::memset(&context, 0, sizeof context);
    context.processHandle = process;
    copyBounded(context.productName, productName, sizeof context.productName);

    // Without the event the end of the dialog could never be seen.
    context.doneEvent = createDoneEvent();
    if (context.doneEvent == nullptr) return reportFailureCode(GetLastError());
    const int32_t status = watchUnderDialog(context, runEnd);
    CloseHandle(context.doneEvent);
    return status;
}

DWORD WINAPI progressDialogThread(void* parameter) {
    auto& context = *static_cast<ProgressDialogContext*>(parameter);
    context.cancelled = 0;
    INT_PTR result = runDialog(context);
    if (result == IDCANCEL) {
        context.cancelled = 1;
    } else if (result == -1) {
        reportFailureCode(GetLastError());
    }
    // The monitor may release the context as soon as it sees the event.
    SetEvent(context.doneEvent);
    return 1;
}

INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        auto* context = reinterpret_cast<ProgressDialogContext*>(GetWindowLongPtrA(dialog, DWLP_USER));
        publishWindow(*context, dialog);
        // The product name is an argument, never part of the format.
        char text[textCapacity];
        std::snprintf(text, sizeof text, progressTemplate, context->productName);
        text[sizeof text - 1] = '\0';
        SendDlgItemMessageA(dialog, IDC_PROGRESS_TEXT, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, progressRangeMax));
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETSTEP, 1, 0);
        centerWindowOnScreen(dialog);
        return TRUE;
    }
    case WM_CLOSE:
        // The close button, the system menu and Alt+F4 act exactly as "Cancel".
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            // Noted here as well: the monitor's end request may still overwrite the
            // result before the modal loop has let go of the dialog.
            auto* context = reinterpret_cast<ProgressDialogContext*>(GetWindowLongPtrA(dialog, DWLP_USER));
            if (context != nullptr) context->cancelled = 1;
            EndDialog(dialog, IDCANCEL);
        }
        return TRUE;
    default:
        return FALSE;
    }
}
