// The progress dialog and the process monitor, against the real dialog on its
// own thread. A watcher thread finds the dialog as a user would, records what it
// shows and, where a case asks for it, answers it.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "MessageRecorder.h"
#include "Seams.h"
#include "TestFiles.h"
#include "core/SystemError.h"
#include "res/ResourceIds.h"
#include "ui/ProgressDialog.h"

namespace {

// cancelButtonNow: the click is sent, so the dialog takes it ahead of the steps
// already queued for it (under emulation, drawing each step takes 20 ms or more).
enum class Action { none, cancelButton, cancelButtonNow, escape, closeButton, altF4 };

struct DialogWatch {
    Action action = Action::none;
    DWORD actAfterMs = 0;         // after the dialog was first seen
    HANDLE actAfterExitOf = nullptr;  // or: once this process has ended and the run-up has begun
    HANDLE setAtPosition = nullptr;   // an event set once the bar has reached endPosition,
    int endPosition = 0;
    DWORD setAfterMs = 0;             // or once this long has passed since the watch began
    // What was seen.
    bool seen = false;
    std::string text;
    int rangeLow = -1, rangeHigh = -1, step = -1;
    int firstPosition = -1, lastPosition = -1, maxPosition = -1;
    std::vector<std::pair<DWORD, int>> moves;  // when the bar was seen at a new position
    bool centred = false;
    bool acted = false;
    volatile LONG stop = 0;
};

BOOL CALLBACK matchProgressDialog(HWND window, LPARAM found) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    if (pid != GetCurrentProcessId() || std::strcmp(className, "#32770") != 0 ||
        !IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The launcher's only dialog while the monitor runs (message boxes are recorded).
HWND findProgressDialog() {
    HWND found = nullptr;
    EnumWindows(matchProgressDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

void answer(HWND dialog, Action action) {
    switch (action) {
    case Action::cancelButton:
        PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
        break;
    case Action::cancelButtonNow:
        SendMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
        break;
    case Action::escape:
        PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        break;
    case Action::closeButton:
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case Action::altF4:
        PostMessageA(dialog, WM_SYSKEYDOWN, VK_F4, 0x203E0001);  // bit 29: Alt is down
        break;
    case Action::none:
        break;
    }
}

void observe(DialogWatch& watch, HWND dialog) {
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
    if (!watch.seen) {
        watch.seen = true;
        char text[512] = {};
        GetDlgItemTextA(dialog, IDC_PROGRESS_TEXT, text, sizeof text);
        watch.text = text;
        PBRANGE range = {};
        SendMessageA(bar, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
        watch.rangeLow = range.iLow;
        watch.rangeHigh = range.iHigh;
        watch.step = static_cast<int>(SendMessageA(bar, PBM_GETSTEP, 0, 0));
        RECT window, area;
        GetWindowRect(dialog, &window);
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
        int dx = (window.left - area.left) - (area.right - window.right);
        int dy = (window.top - area.top) - (area.bottom - window.bottom);
        watch.centred = dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1;
    }
    int position = static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
    if (watch.firstPosition < 0) watch.firstPosition = position;
    if (position != watch.lastPosition) watch.moves.push_back({GetTickCount(), position});
    if (watch.setAtPosition != nullptr && position >= watch.endPosition) SetEvent(watch.setAtPosition);
    watch.lastPosition = position;
    if (position > watch.maxPosition) watch.maxPosition = position;
}

DWORD WINAPI watchDialog(void* parameter) {
    auto& watch = *static_cast<DialogWatch*>(parameter);
    const DWORD began = GetTickCount();
    DWORD firstSeen = 0;
    int exitPosition = -1;  // where the bar stood when actAfterExitOf was seen ended
    while (!watch.stop) {
        if (watch.setAtPosition != nullptr && watch.setAfterMs != 0 &&
            GetTickCount() - began >= watch.setAfterMs)
            SetEvent(watch.setAtPosition);
        HWND dialog = findProgressDialog();
        if (dialog != nullptr) {
            if (!watch.seen) firstSeen = GetTickCount();
            observe(watch, dialog);
            bool due = false;
            if (watch.action != Action::none && !watch.acted) {
                if (watch.actAfterExitOf != nullptr) {
                    // The run-up has begun once the bar moves on faster than a step a
                    // second after the exit: two steps on from where it stood then.
                    if (exitPosition < 0 && WaitForSingleObject(watch.actAfterExitOf, 0) == WAIT_OBJECT_0)
                        exitPosition = watch.lastPosition;
                    due = exitPosition >= 0 && watch.lastPosition >= exitPosition + 2 &&
                          watch.lastPosition < 250;
                }
                else
                    due = GetTickCount() - firstSeen >= watch.actAfterMs;
            }
            if (due) {
                answer(dialog, watch.action);
                watch.acted = true;
            }
        }
        Sleep(5);
    }
    return 0;
}

// Runs the monitor on this thread with a watcher beside it.
int32_t monitorWatched(HANDLE process, const char* productName, DialogWatch& watch) {
    HANDLE watcher = CreateThread(nullptr, 0, watchDialog, &watch, 0, nullptr);
    int32_t result = monitorProcess(process, nullptr, productName);
    InterlockedExchange(&watch.stop, 1);
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    return result;
}

// ping.exe waits about one second between its echoes.
PROCESS_INFORMATION startPing(int seconds) {
    char command[MAX_PATH + 64];
    GetSystemDirectoryA(command, MAX_PATH);
    std::string line = std::string(command) + "\\ping.exe -n " + std::to_string(seconds + 1) +
                       " 127.0.0.1";
    std::strcpy(command, line.c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    EXPECT_TRUE(CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                               nullptr, nullptr, &startup, &process));
    return process;
}

void endProcess(PROCESS_INFORMATION& process) {
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}

// The text of the "Error" box for a code (Wine has no system text for some).
// Call it before the test's own recorder exists: recorders do not nest.

// ---- Reading the compiled template back.

struct TemplateReader {
    const unsigned char* p;
    uint16_t word() { uint16_t v; std::memcpy(&v, p, 2); p += 2; return v; }
    uint32_t dword() { uint32_t v; std::memcpy(&v, p, 4); p += 4; return v; }
    std::string text() {
        std::string s;
        for (uint16_t c = word(); c != 0; c = word()) s += static_cast<char>(c);
        return s;
    }
    // A string, or "#<n>" for an ordinal.
    std::string textOrOrdinal() {
        uint16_t first;
        std::memcpy(&first, p, 2);
        if (first == 0xFFFF) {
            p += 2;
            return "#" + std::to_string(word());
        }
        return text();
    }
    void alignToDword(const unsigned char* base) {
        while ((p - base) % 4 != 0) ++p;
    }
};

struct ControlTemplate {
    uint32_t helpId, exStyle, style;
    int x, y, cx, cy;
    uint32_t id;
    std::string className, title;
};

}  // namespace

TEST(ProgressDialogTemplate, HoldsExactlyTheGivenDialog) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceExA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_PROGRESS),
                                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_NE(resource, nullptr);
    auto base = static_cast<const unsigned char*>(LockResource(LoadResource(module, resource)));
    ASSERT_NE(base, nullptr);
    TemplateReader r{base};
    EXPECT_EQ(r.word(), 1);       // dlgVer
    EXPECT_EQ(r.word(), 0xFFFF);  // signature: extended template
    EXPECT_EQ(r.dword(), 0u);     // help id
    EXPECT_EQ(r.dword(), 0x00040000u);
    EXPECT_EQ(r.dword(), 0x90C800C8u);
    uint16_t count = r.word();
    ASSERT_EQ(count, 3);
    EXPECT_EQ(r.word(), 0);
    EXPECT_EQ(r.word(), 0);
    EXPECT_EQ(r.word(), 320);
    EXPECT_EQ(r.word(), 81);
    EXPECT_EQ(r.textOrOrdinal(), "");  // no menu
    EXPECT_EQ(r.textOrOrdinal(), "");  // default class
    EXPECT_EQ(r.text(), "Setup");
    EXPECT_EQ(r.word(), 8);  // points
    EXPECT_EQ(r.word(), 0);  // weight
    EXPECT_EQ(*r.p++, 0);    // italic
    EXPECT_EQ(*r.p++, 1);    // charset
    EXPECT_EQ(r.text(), "MS Shell Dlg");

    const ControlTemplate expected[] = {
        {0, 0, 0x50010000, 263, 58, 50, 16, IDCANCEL, "#128", "Cancel"},
        {0, 0, 0x50020000, 10, 17, 300, 8, IDC_PROGRESS_TEXT, "#130",
         "TODO: Place dialog controls here."},
        {0, 0, 0x50800001, 7, 33, 306, 14, IDC_PROGRESS_BAR, "msctls_progress32", ""},
    };
    for (const ControlTemplate& want : expected) {
        SCOPED_TRACE(want.id);
        r.alignToDword(base);
        EXPECT_EQ(r.dword(), want.helpId);
        EXPECT_EQ(r.dword(), want.exStyle);
        EXPECT_EQ(r.dword(), want.style);
        EXPECT_EQ(static_cast<int16_t>(r.word()), want.x);
        EXPECT_EQ(static_cast<int16_t>(r.word()), want.y);
        EXPECT_EQ(static_cast<int16_t>(r.word()), want.cx);
        EXPECT_EQ(static_cast<int16_t>(r.word()), want.cy);
        EXPECT_EQ(r.dword(), want.id);
        // Window class names are compared without regard to case.
        EXPECT_EQ(lstrcmpiA(r.textOrOrdinal().c_str(), want.className.c_str()), 0);
        EXPECT_EQ(r.textOrOrdinal(), want.title);
        EXPECT_EQ(r.word(), 0);  // no creation data
    }
}

namespace {

// The bar's position when the monitor asked the dialog to end. The steps are
// posted, so the ones posted last may still be on their way: they are given up
// to thirty seconds to arrive (under emulation each takes 20 ms or more to draw;
// a watcher's samples miss the last ones on a busy machine, where the dialog
// closes between two samples).
int barAtEndRequest = -1;

BOOL WINAPI endDialogReadingBar(HWND dialog, INT_PTR result) {
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
    DWORD start = GetTickCount();
    for (;;) {
        barAtEndRequest = static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
        if (barAtEndRequest >= 300 || GetTickCount() - start >= 30000) break;
        Sleep(5);
    }
    return EndDialog(dialog, result);
}

}  // namespace

TEST(MonitorProcess, StepsWhileTheProcessRunsThenFillsTheBarAndCloses) {
    MessageRecorder recorder;
    PROCESS_INFORMATION process = startPing(3);
    DialogWatch watch;
    barAtEndRequest = -1;
    {
        ProgressCallsGuard calls({nullptr, nullptr, nullptr, endDialogReadingBar});
        EXPECT_EQ(monitorWatched(process.hProcess, "Korvane Studio", watch), 0);
    }
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 0), WAIT_OBJECT_0);
    endProcess(process);
    EXPECT_TRUE(recorder.boxes.empty());
    ASSERT_TRUE(watch.seen);
    EXPECT_EQ(watch.text, "Please wait while Korvane Studio configures your upgrade...");
    EXPECT_EQ(watch.rangeLow, 0);
    EXPECT_EQ(watch.rangeHigh, 300);
    EXPECT_EQ(watch.step, 1);
    EXPECT_TRUE(watch.centred);
    EXPECT_LE(watch.firstPosition, 1);  // one step per second, not more
    EXPECT_EQ(barAtEndRequest, 300);    // run up to the end before closing
    EXPECT_EQ(findProgressDialog(), nullptr);
}

TEST(MonitorProcess, EveryWayOfCancellingStopsOnlyTheWaiting) {
    const Action actions[] = {Action::cancelButton, Action::escape, Action::closeButton,
                              Action::altF4};
    for (Action action : actions) {
        SCOPED_TRACE(static_cast<int>(action));
        MessageRecorder recorder;
        PROCESS_INFORMATION process = startPing(30);
        DialogWatch watch;
        watch.action = action;
        watch.actAfterMs = 1200;
        EXPECT_EQ(monitorWatched(process.hProcess, "Korvane", watch), -1);
        EXPECT_TRUE(watch.acted);
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the watched program must keep running";
        EXPECT_TRUE(recorder.boxes.empty());
        endProcess(process);
    }
}

// The bar's steps come one a second while the program runs: the moves the
// watcher sees, before the program ends, lie about a second apart.
TEST(MonitorProcess, StepsOncePerSecondWhileTheProcessRuns) {
    MessageRecorder recorder;
    // The watched "process" is an event: it ends when the bar has reached 5, or
    // after 15 s (about three times what the five steps take) when it has not.
    HANDLE runEnd = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DialogWatch watch;
    watch.setAtPosition = runEnd;
    watch.endPosition = 5;
    watch.setAfterMs = 15000;
    barAtEndRequest = -1;
    {
        ProgressCallsGuard calls({nullptr, nullptr, nullptr, endDialogReadingBar});
        EXPECT_EQ(monitorWatched(runEnd, "Korvane", watch), 0);
    }
    CloseHandle(runEnd);
    EXPECT_TRUE(recorder.boxes.empty());
    // The moves to 1 ... 5, one step each.
    std::vector<DWORD> at;
    for (const auto& move : watch.moves)
        if (move.second >= 1 && move.second <= 5) at.push_back(move.first);
    ASSERT_EQ(at.size(), 5u) << "the bar did not reach 5 within 15 s, skipped a step or stepped back";
    for (size_t i = 1; i < at.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(at[i] - at[i - 1], 850u);
        EXPECT_LE(at[i] - at[i - 1], 1350u);
    }
    EXPECT_EQ(barAtEndRequest, 300);
}

TEST(MonitorProcess, CancelDuringTheRunUpStillCountsAsCancel) {
    MessageRecorder recorder;
    PROCESS_INFORMATION process = startPing(1);
    DialogWatch watch;
    watch.action = Action::cancelButtonNow;
    watch.actAfterExitOf = process.hProcess;
    EXPECT_EQ(monitorWatched(process.hProcess, "Korvane", watch), -1);
    EXPECT_TRUE(watch.acted);
    endProcess(process);
}

TEST(MonitorProcess, AFailingProcessWaitCountsAsRunning) {
    MessageRecorder recorder;
    DialogWatch watch;
    watch.action = Action::cancelButton;
    watch.actAfterMs = 2500;
    EXPECT_EQ(monitorWatched(reinterpret_cast<HANDLE>(0x7ffc), "Korvane", watch), -1);
    EXPECT_GE(watch.maxPosition, 1);
    EXPECT_TRUE(recorder.boxes.empty());
}

TEST(MonitorProcess, ADialogThatCannotBeCreatedIsReportedTwice) {
    const std::string timeoutText = errorBoxText(258);
    MessageRecorder recorder;
    PROCESS_INFORMATION process = startPing(30);
    int32_t result;
    {
        AppInstanceGuard module(GetModuleHandleA("kernel32.dll"));  // holds no template 102
        result = monitorProcess(process.hProcess, nullptr, "Korvane");
    }
    endProcess(process);
    EXPECT_EQ(result, 258);
    ASSERT_EQ(recorder.boxes.size(), 2u);
    EXPECT_EQ(recorder.boxes[0].caption, "Error");
    EXPECT_NE(recorder.boxes[0].text, recorder.boxes[1].text);
    EXPECT_EQ(recorder.boxes[1].text, timeoutText);
    EXPECT_EQ(recorder.boxes[1].style, static_cast<unsigned>(MB_OK | MB_ICONERROR));
}

namespace {

HANDLE WINAPI failingCreateEvent(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return nullptr;
}

HANDLE WINAPI failingCreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                  DWORD, LPDWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

INT_PTR WINAPI slowDialogBox(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC procedure,
                             LPARAM parameter) {
    Sleep(3000);  // longer than the first pass and the whole run-up
    return DialogBoxParamA(instance, name, owner, procedure, parameter);
}

double threadCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto value = [](FILETIME t) {
        return (static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
    };
    return value(kernel) + value(user);
}

}  // namespace

TEST(MonitorProcess, AThreadOrEventThatCannotBeCreatedIsReportedWithItsCode) {
    struct Case {
        ProgressDialogCalls calls;
        int32_t code;
    };
    const Case cases[] = {
        {{failingCreateEvent, nullptr, nullptr, nullptr}, ERROR_NO_SYSTEM_RESOURCES},
        {{nullptr, failingCreateThread, nullptr, nullptr}, ERROR_NOT_ENOUGH_MEMORY},
    };
    for (const Case& c : cases) {
        const std::string expectedText = errorBoxText(c.code);
        MessageRecorder recorder;
        int32_t result;
        {
            ProgressCallsGuard calls(c.calls);
            result = monitorProcess(GetCurrentProcess(), nullptr, "Korvane");
        }
        EXPECT_EQ(result, c.code);
        ASSERT_EQ(recorder.boxes.size(), 1u);
        EXPECT_EQ(recorder.boxes[0].text, expectedText);
        EXPECT_EQ(findProgressDialog(), nullptr);
    }
}

TEST(MonitorProcess, ADialogComingUpAfterTheEndRequestIsStillEndedWithoutSpinning) {
    MessageRecorder recorder;
    PROCESS_INFORMATION process = startPing(0);
    int32_t result;
    double cpuUsed;
    {
        ProgressCallsGuard calls({nullptr, nullptr, slowDialogBox, nullptr});
        double cpuBefore = threadCpuSeconds();
        result = monitorProcess(process.hProcess, nullptr, "Korvane");
        cpuUsed = threadCpuSeconds() - cpuBefore;
    }
    endProcess(process);
    EXPECT_EQ(result, 0) << "a finished run must not turn into a cancel";
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_EQ(findProgressDialog(), nullptr);
    EXPECT_LT(cpuUsed, 1.0) << "the monitor spun while waiting for the dialog";
}

namespace {

// The run ends as the user cancels, and the dialog thread is slow to report
// its dialog's end: the whole run-up is stepped after the dialog has gone.
HANDLE goneRunEnd = nullptr;  // the watched "process"

INT_PTR CALLBACK endRunOnCancel(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) SetEvent(goneRunEnd);
    return progressDialogProc(dialog, message, wParam, lParam);
}

INT_PTR WINAPI dialogGoneButNotReported(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC,
                                        LPARAM parameter) {
    INT_PTR result = DialogBoxParamA(instance, name, owner, endRunOnCancel, parameter);
    Sleep(3000);  // longer than a poll and the whole run-up
    return result;
}

}  // namespace

TEST(MonitorProcess, StepsAfterTheDialogHasGoneAreNotPostedToTheMonitorThread) {
    // The monitor thread's own queue, where a step addressed to no window would land.
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    while (PeekMessageA(&message, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE)) {
    }
    goneRunEnd = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    MessageRecorder recorder;
    DialogWatch watch;
    watch.action = Action::cancelButton;
    watch.actAfterMs = 1200;
    int32_t result;
    {
        ProgressCallsGuard calls({nullptr, nullptr, dialogGoneButNotReported, nullptr});
        result = monitorWatched(goneRunEnd, "Korvane", watch);
    }
    CloseHandle(goneRunEnd);
    EXPECT_TRUE(watch.acted);
    EXPECT_EQ(result, -1);
    int stray = 0;
    while (PeekMessageA(&message, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE))
        if (message.message == PBM_STEPIT) ++stray;
    EXPECT_EQ(stray, 0);
}

namespace {

// A Cancel that the monitor's end request overtakes: the dialog has ended with
// Cancel, and before its modal loop lets go, the run ends and the monitor asks
// the dialog to end with 0, which overwrites the dialog's result. The dialog
// procedure is held after its Cancel until that end request has come.
HANDLE overlapRunEnd = nullptr;        // the watched "process"
HANDLE overlapEndRequested = nullptr;  // set once the monitor has asked the dialog to end
INT_PTR overlapDialogResult = -2;

BOOL WINAPI endDialogAndTell(HWND dialog, INT_PTR result) {
    BOOL ended = EndDialog(dialog, result);
    SetEvent(overlapEndRequested);
    return ended;
}

INT_PTR CALLBACK holdAfterCancel(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR handled = progressDialogProc(dialog, message, wParam, lParam);
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        SetEvent(overlapRunEnd);
        // The monitor asks the bar's position (a sent message) before it ends
        // the dialog: serve sent messages while waiting.
        DWORD start = GetTickCount();
        while (GetTickCount() - start < 10000) {
            if (MsgWaitForMultipleObjects(1, &overlapEndRequested, FALSE, 100, QS_SENDMESSAGE) ==
                WAIT_OBJECT_0)
                break;
            MSG pending;
            PeekMessageA(&pending, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
    return handled;
}

INT_PTR WINAPI dialogHeldAfterCancel(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC,
                                     LPARAM parameter) {
    overlapDialogResult = DialogBoxParamA(instance, name, owner, holdAfterCancel, parameter);
    return overlapDialogResult;
}

}  // namespace

TEST(MonitorProcess, ACancelOvertakenByTheEndRequestStillCountsAsCancel) {
    overlapRunEnd = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    overlapEndRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    overlapDialogResult = -2;
    MessageRecorder recorder;
    DialogWatch watch;
    watch.action = Action::cancelButton;
    watch.actAfterMs = 1200;
    int32_t result;
    {
        ProgressCallsGuard calls({nullptr, nullptr, dialogHeldAfterCancel, endDialogAndTell});
        result = monitorWatched(overlapRunEnd, "Korvane", watch);
    }
    bool endRequested = WaitForSingleObject(overlapEndRequested, 0) == WAIT_OBJECT_0;
    CloseHandle(overlapRunEnd);
    CloseHandle(overlapEndRequested);
    EXPECT_TRUE(watch.acted);
    ASSERT_TRUE(endRequested) << "the monitor never asked the dialog to end";
    ASSERT_EQ(overlapDialogResult, 0) << "the end request did not overtake the Cancel";
    EXPECT_EQ(result, -1) << "a Cancel the user gave must not turn into a finished run";
    EXPECT_TRUE(recorder.boxes.empty());
}

// The dialog thread alone: the text line for a given product name, and what the
// thread reports when its dialog is cancelled.
TEST(ProgressDialogThread, ShowsTheProductNameAsAnArgumentCutAt260) {
    struct Case {
        std::string productName, text;
    };
    const std::string longName(240, 'n');
    const Case cases[] = {
        {"Korvane", "Please wait while Korvane configures your upgrade..."},
        {"100% %s %d %n", "Please wait while 100% %s %d %n configures your upgrade..."},
        {"", "Please wait while  configures your upgrade..."},
        {longName, ("Please wait while " + longName + " configures your upgrade...").substr(0, 260)},
    };
    for (const Case& c : cases) {
        ProgressDialogContext context;
        std::memset(&context, 0, sizeof context);
        std::strcpy(context.productName, c.productName.c_str());
        context.cancelled = 7;
        context.doneEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DialogWatch watch;
        watch.action = Action::cancelButton;
        HANDLE watcher = CreateThread(nullptr, 0, watchDialog, &watch, 0, nullptr);
        EXPECT_EQ(progressDialogThread(&context), 1u);
        InterlockedExchange(&watch.stop, 1);
        WaitForSingleObject(watcher, INFINITE);
        CloseHandle(watcher);
        EXPECT_EQ(watch.text, c.text);
        EXPECT_EQ(context.cancelled, 1);
        EXPECT_NE(context.dialogWindow, nullptr);
        EXPECT_EQ(WaitForSingleObject(context.doneEvent, 0), WAIT_OBJECT_0);
        CloseHandle(context.doneEvent);
    }
}
