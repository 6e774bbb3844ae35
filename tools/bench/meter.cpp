// Measures, from inside Wine, what the benchmark needs timed on the Windows side.
//
//   meter.exe start <exe>                start-up: from CreateProcess to the first
//                                        visible window of the program; then its
//                                        peak memory, and Cancel to end it
//   meter.exe stage <medium> <maint>     the launcher's own upgrade stage
//                                        (runMaintenance) on a maintenance folder:
//                                        from the call to the staged program's start
//   meter.exe xcopy <from> <to>          Wine's xcopy of the same folder, start to end
//   (as extsetup.exe)                    writes the time to KORVANE_BENCH_STAMP: the
//                                        staged program's start
//
// Times are QueryPerformanceCounter readings in microseconds, one shared clock
// for all processes of the Wine session. Output: "name value" lines.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/Framework.h"
#include "core/Module.h"
#include "core/SetupState.h"
#include "core/Text.h"
#include "run/MaintenanceRun.h"

namespace {

long long nowMicroseconds() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return counter.QuadPart * 1000000 / frequency.QuadPart;
}

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK findVisible(HWND window, LPARAM parameter) {
    auto& search = *reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search.processId || !IsWindowVisible(window)) return TRUE;
    search.found = window;
    return FALSE;
}

bool startProcess(char* commandLine, PROCESS_INFORMATION& process) {
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    return CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process) != FALSE;
}

// A program that shows nothing for this long is reported and ended, not waited
// for without end: the benchmark must fail, not hang.
constexpr long long windowLimitUs = 120 * 1000000LL;

int measureStart(const char* exe) {
    char commandLine[MAX_PATH + 2];
    std::snprintf(commandLine, sizeof commandLine, "\"%s\"", exe);
    PROCESS_INFORMATION process;
    const long long started = nowMicroseconds();
    if (!startProcess(commandLine, process)) {
        std::fprintf(stderr, "meter: %s could not be started (error %lu)\n", exe, GetLastError());
        return 2;
    }
    WindowSearch search = {process.dwProcessId, nullptr};
    DWORD wait = WAIT_TIMEOUT;
    while (search.found == nullptr && wait == WAIT_TIMEOUT && nowMicroseconds() - started < windowLimitUs) {
        wait = WaitForSingleObject(process.hProcess, 1);
        EnumWindows(findVisible, reinterpret_cast<LPARAM>(&search));
    }
    const long long shown = nowMicroseconds();
    if (search.found == nullptr) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        if (wait == WAIT_OBJECT_0) {
            std::fprintf(stderr, "meter: %s ended (exit code %lu) without showing a window\n", exe, code);
        } else {
            std::fprintf(stderr, "meter: %s showed no window within %lld s; ended it\n", exe,
                         windowLimitUs / 1000000);
            TerminateProcess(process.hProcess, 1);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return 3;
    }
    Sleep(300);  // painted and settled: what the program needed to show itself
    PROCESS_MEMORY_COUNTERS memory;
    std::memset(&memory, 0, sizeof memory);
    memory.cb = sizeof memory;
    const bool measured = GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory) != FALSE;
    const DWORD memoryError = measured ? 0 : GetLastError();
    PostMessageA(search.found, WM_COMMAND, IDCANCEL, 0);
    const bool ended = WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::printf("shown_us %lld\n", shown - started);
    if (!measured) {
        std::fprintf(stderr, "meter: no memory figures for %s (error %lu)\n", exe, memoryError);
        return 4;
    }
    std::printf("peak_working_set %llu\npeak_pagefile %llu\n",
                static_cast<unsigned long long>(memory.PeakWorkingSetSize),
                static_cast<unsigned long long>(memory.PeakPagefileUsage));
    if (!ended) {
        std::fprintf(stderr, "meter: %s did not end within 10 s of Cancel; ended it\n", exe);
        return 5;
    }
    return 0;
}

int measureStage(const char* medium, const char* maintenance) {
    auto* record = static_cast<SetupState*>(std::calloc(1, sizeof(SetupState)));
    if (record == nullptr) {
        std::fprintf(stderr, "meter: out of memory\n");
        return 2;
    }
    SetupState& state = *record;
    state.runInstalledSetup = 1;
    state.upgradeMode = 1;
    copyBounded(state.installedVersion, "1.10", sizeof state.installedVersion);
    copyBounded(state.productName, "Korvane", sizeof state.productName);
    copyBounded(state.setupDirectory, medium, sizeof state.setupDirectory);
    std::snprintf(state.uninstallCommand, sizeof state.uninstallCommand,
                  "\"%s\\setup.exe\" -runfromtemp -l0x0409 -removeonly", maintenance);
    std::printf("called_us %lld\n", nowMicroseconds());
    std::fflush(stdout);
    const int32_t status = runMaintenance(state);
    std::free(record);
    std::printf("status %d\n", static_cast<int>(status));
    if (status != 0) std::fprintf(stderr, "meter: the upgrade stage returned %d\n", static_cast<int>(status));
    return status == 0 ? 0 : 1;
}

int measureXcopy(const char* from, const char* to) {
    char commandLine[3 * MAX_PATH];
    std::snprintf(commandLine, sizeof commandLine, "xcopy.exe \"%s\" \"%s\\\" /E /I /Q /Y", from, to);
    PROCESS_INFORMATION process;
    const long long started = nowMicroseconds();
    if (!startProcess(commandLine, process)) {
        std::fprintf(stderr, "meter: xcopy could not be started (error %lu)\n", GetLastError());
        return 2;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    const long long ended = nowMicroseconds();
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (code != 0) {
        std::fprintf(stderr, "meter: xcopy ended with exit code %lu\n", code);
        return 1;
    }
    std::printf("xcopy_us %lld\n", ended - started);
    return 0;
}

bool runsAsStagedProgram() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return n >= 12 && lstrcmpiA(path + n - 12, "extsetup.exe") == 0;
}

int stamp() {
    const long long now = nowMicroseconds();
    const char* file = std::getenv("KORVANE_BENCH_STAMP");
    FILE* out = file != nullptr ? std::fopen(file, "w") : nullptr;
    if (out == nullptr) {
        std::fprintf(stderr, "meter: cannot write the stamp file named by KORVANE_BENCH_STAMP\n");
        return 2;
    }
    std::fprintf(out, "%lld\n", now);
    std::fclose(out);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "start") == 0) return measureStart(argv[2]);
    if (runsAsStagedProgram()) return stamp();
    if (argc == 4 && std::strcmp(argv[1], "xcopy") == 0) return measureXcopy(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "stage") == 0) {
        setAppInstance(GetModuleHandleA(nullptr));
        initCommonControls();
        return measureStage(argv[2], argv[3]);
    }
    std::fprintf(stderr, "usage: meter.exe start EXE | stage MEDIUM MAINT | xcopy FROM TO\n");
    return 2;
}
