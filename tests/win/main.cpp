// Test entry under Wine: the same start-up as the launcher, then GoogleTest.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <float.h>

#include "app/Framework.h"
#include "core/Module.h"

namespace {

// The threads of this program that have come through their start-up: the loader
// runs the program's TLS callback in each new thread once Wine has set it up.
const LONG startedCapacity = 1024;
DWORD startedThreads[startedCapacity];
volatile LONG startedCount = 0;

void NTAPI onThreadAttach(PVOID, DWORD reason, PVOID) {
    if (reason != DLL_THREAD_ATTACH) return;
    const LONG slot = InterlockedIncrement(&startedCount) - 1;
    if (slot < startedCapacity) startedThreads[slot] = GetCurrentThreadId();
}

extern "C" __attribute__((section(".CRT$XLF"), used)) const PIMAGE_TLS_CALLBACK korvaneThreadAttach =
    onThreadAttach;

bool hasStarted(DWORD thread) {
    const LONG count = startedCount < startedCapacity ? startedCount : startedCapacity;
    for (LONG i = 0; i < count; ++i) {
        if (startedThreads[i] == thread) return true;
    }
    return false;
}

// True when every other thread of this process has come through its start-up
// (or the process list cannot be read, which leaves nothing to wait for).
bool everyThreadStarted() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return true;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    bool all = true;
    for (BOOL more = Thread32First(snapshot, &entry); more && all; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId() && entry.th32ThreadID != GetCurrentThreadId())
            all = hasStarted(entry.th32ThreadID);
    }
    CloseHandle(snapshot);
    return all;
}

// Wine 8 ends a process's other threads with a signal, and a thread that has not
// finished its start-up cannot take one: its handler finds no thread block, and the
// whole process dies by SIGSEGV after the report said PASSED. GoogleTest starts such
// a thread at the first SCOPED_TRACE of the main thread (its thread-local registry
// watches each thread that uses it), which in a short suite comes a millisecond
// before the end. So the program ends only once every thread of it has started,
// waiting ten seconds at most.
void waitForThreadsStarting() {
    for (int waited = 0; waited < 10000 && !everyThreadStarted(); waited += 5) Sleep(5);
}

}  // namespace

int main(int argc, char** argv) {
    _controlfp(_PC_53, _MCW_PC);
    setAppInstance(GetModuleHandleA(nullptr));
    initCommonControls();
    initRichEdit();
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    waitForThreadsStarting();
    return result;
}
