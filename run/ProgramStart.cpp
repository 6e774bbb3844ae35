#include "run/ProgramStart.h"

#include <cstring>

#include "core/Module.h"
#include "core/SetupState.h"
#include "core/SystemError.h"
#include "core/Text.h"
#include "core/Window.h"

namespace {

// Written only by tests, while no program is being started.
ProgramStartCalls testCalls = {};
MappedDriveCalls driveCalls = {};

void closeIfOpen(HANDLE& handle) {
    if (handle != nullptr) CloseHandle(handle);
    handle = nullptr;
}

// A job that only counts: no limit but leave to break away, so that a program
// that starts a helper with CREATE_BREAKAWAY_FROM_JOB does not fail here.
HANDLE createWatchJob() {
    auto create = testCalls.createJobObject != nullptr ? testCalls.createJobObject : CreateJobObjectA;
    auto setLimits = testCalls.setInformationJobObject != nullptr ? testCalls.setInformationJobObject
                                                                  : SetInformationJobObject;
    HANDLE job = create(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    // Leave to break away is one of the extended limits: the basic ones refuse it.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    std::memset(&limits, 0, sizeof limits);
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!setLimits(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) closeIfOpen(job);
    return job;
}

bool joinJob(HANDLE job, HANDLE process) {
    auto assign = testCalls.assignProcessToJobObject != nullptr ? testCalls.assignProcessToJobObject
                                                                : AssignProcessToJobObject;
    return assign(job, process) != FALSE;
}

bool resume(HANDLE thread) {
    auto run = testCalls.resumeThread != nullptr ? testCalls.resumeThread : ResumeThread;
    return run(thread) != static_cast<DWORD>(-1);
}

bool launcherInAJob() {
    BOOL inJob = FALSE;
    return IsProcessInJob(GetCurrentProcess(), nullptr, &inJob) && inJob;
}

// 0 or the start's code; nothing of a failed start is left to close.
DWORD createProgram(const char* program, char* commandLine, DWORD flags, PROCESS_INFORMATION& process) {
    auto create = testCalls.createProcess != nullptr ? testCalls.createProcess : CreateProcessA;
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    std::memset(&process, 0, sizeof process);
    SetLastError(0);
    if (create(program, commandLine, nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup, &process))
        return 0;
    const DWORD code = lastErrorOr(ERROR_GEN_FAILURE);
    std::memset(&process, 0, sizeof process);
    return code;
}

// Ends a program that has not run a single instruction (it was started
// suspended): it leaves nothing behind, where left suspended it would linger
// unseen for good.
void discardSuspended(PROCESS_INFORMATION& process, DWORD code) {
    TerminateProcess(process.hProcess, code);
    closeIfOpen(process.hProcess);
    closeIfOpen(process.hThread);
}

constexpr DWORD suspendedStart = NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED;

// The outer job refused to nest the launcher's (Windows Vista and 7): the
// program is started anew out of the outer job and put into the launcher's.
// Where the outer job allows no breakaway, or the program cannot join the
// launcher's job out there, it is started inside the outer job without one:
// never outside both.
DWORD startOutOfOuterJob(const char* program, char* commandLine, HANDLE& job, PROCESS_INFORMATION& process) {
    DWORD code = createProgram(program, commandLine, suspendedStart | CREATE_BREAKAWAY_FROM_JOB, process);
    if (code == 0 && joinJob(job, process.hProcess)) return 0;
    if (code == 0) discardSuspended(process, ERROR_ACCESS_DENIED);
    closeIfOpen(job);
    return createProgram(program, commandLine, suspendedStart, process);
}

// Starts the program suspended and puts it into the job (a job it cannot join
// is closed and dropped), then lets it run. 0, or the failure's code; the
// caller closes whatever process holds then.
DWORD startInJob(const char* program, char* commandLine, HANDLE& job, PROCESS_INFORMATION& process) {
    // Suspended until it is in the job: a copy it started at once would escape.
    DWORD code = createProgram(program, commandLine, suspendedStart, process);
    if (code != 0) return code;
    if (!joinJob(job, process.hProcess)) {
        // Inside an outer job that does not nest, breakaway is the way into the
        // launcher's job; anywhere else the program runs on without one.
        if (launcherInAJob()) {
            discardSuspended(process, ERROR_ACCESS_DENIED);
            code = startOutOfOuterJob(program, commandLine, job, process);
            if (code != 0) return code;
        } else {
            closeIfOpen(job);
        }
    }
    if (resume(process.hThread)) return 0;
    code = lastErrorOr(ERROR_GEN_FAILURE);
    TerminateProcess(process.hProcess, code);
    return code;
}

using ShellExecuteExFn = BOOL(WINAPI*)(SHELLEXECUTEINFOA*);

// shell32 is loaded from System32 only when a program needs elevation: the
// launcher's imports stay as they were, and a start that needs no elevation
// loads nothing more.
ShellExecuteExFn shellExecuteEx() {
    if (testCalls.shellExecuteEx != nullptr) return testCalls.shellExecuteEx;
    HMODULE shell = loadSystemLibrary("shell32.dll");
    if (shell == nullptr) return nullptr;
    return reinterpret_cast<ShellExecuteExFn>(
        reinterpret_cast<void*>(GetProcAddress(shell, "ShellExecuteExA")));
}

using GetConnectionFn = DWORD(WINAPI*)(LPCSTR, LPSTR, LPDWORD);

// A program elevated through User Account Control runs in a logon session of
// its own, and the drive letters the user mapped to shares belong to the
// user's session alone (Microsoft KB937624: "These objects are specific for a
// logon session and are not shared between logon sessions"). A path on such a
// drive is handed to the elevated start by the share's own name
// (\\server\share\...), which the elevated program reaches. Any other path, and
// one whose share cannot be told, stays as it is. mpr.dll is loaded from
// System32, and only for a path on a network drive.
void reachableWhenElevated(const char* path, char* reachable, size_t capacity) {
    copyBounded(reachable, path, capacity);
    const bool driveLetter = ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':';
    if (!driveLetter) return;
    const char root[] = {path[0], ':', '\\', '\0'};
    auto driveType = driveCalls.getDriveType != nullptr ? driveCalls.getDriveType : GetDriveTypeA;
    if (driveType(root) != DRIVE_REMOTE) return;
    auto getConnection = driveCalls.getConnection;
    if (getConnection == nullptr) {
        HMODULE mpr = loadSystemLibrary("mpr.dll");
        if (mpr == nullptr) return;
        getConnection = reinterpret_cast<GetConnectionFn>(
            reinterpret_cast<void*>(GetProcAddress(mpr, "WNetGetConnectionA")));
        if (getConnection == nullptr) return;
    }
    const char drive[] = {path[0], ':', '\0'};
    char share[textCapacity];
    DWORD size = sizeof share;
    if (getConnection(drive, share, &size) != NO_ERROR) return;
    char composed[textCapacity];
    if (composeText(composed, sizeof composed, share, path + 2)) copyBounded(reachable, composed, capacity);
}

// Starts the program through the shell with the verb "runas"; 0 or the code of
// the start that failed. process: the program's handle, null when the shell
// handed the start on in a way that gives none.
DWORD shellStart(const char* program, const char* parameters, HANDLE& process) {
    process = nullptr;
    ShellExecuteExFn execute = shellExecuteEx();
    if (execute == nullptr) return lastErrorOr(ERROR_PROC_NOT_FOUND);
    // The program and the current directory, as the elevated program reaches them.
    char file[textCapacity];
    reachableWhenElevated(program, file, sizeof file);
    char current[textCapacity];
    char directory[textCapacity];
    const DWORD length = GetCurrentDirectoryA(sizeof current, current);
    const bool haveDirectory = length > 0 && length < sizeof current;
    if (haveDirectory) reachableWhenElevated(current, directory, sizeof directory);
    SHELLEXECUTEINFOA info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    // The process handle, for the watch; the start done before the call returns;
    // failures told to the launcher, not shown by the shell; no second warning
    // about the file's origin, which a start of the same file without elevation
    // would not show either.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS;
    info.hwnd = createPromptOwner();
    info.lpVerb = "runas";
    info.lpFile = file;
    info.lpParameters = parameters != nullptr && parameters[0] != '\0' ? parameters : nullptr;
    // The launcher's current directory: by the shell's default where it lies on
    // no mapped drive, else by the share's name.
    info.lpDirectory = haveDirectory && std::strcmp(directory, current) != 0 ? directory : nullptr;
    info.nShow = SW_SHOWNORMAL;
    SetLastError(0);
    const BOOL done = execute(&info);
    const DWORD code = done ? 0 : lastErrorOr(ERROR_GEN_FAILURE);
    if (info.hwnd != nullptr) DestroyWindow(info.hwnd);
    if (code == 0) process = info.hProcess;
    return code;
}

}  // namespace

void setProgramStartCalls(const ProgramStartCalls* calls) {
    testCalls = calls != nullptr ? *calls : ProgramStartCalls{};
}

void setMappedDriveCalls(const MappedDriveCalls* calls) {
    driveCalls = calls != nullptr ? *calls : MappedDriveCalls{};
}

DWORD startProgram(const char* program, char* commandLine, bool wholeRun, StartedProgram& started) {
    std::memset(&started, 0, sizeof started);
    HANDLE job = wholeRun ? createWatchJob() : nullptr;
    PROCESS_INFORMATION process;
    const DWORD code = job != nullptr ? startInJob(program, commandLine, job, process)
                                      : createProgram(program, commandLine, NORMAL_PRIORITY_CLASS, process);
    if (code != 0) {
        closeIfOpen(process.hProcess);
        closeIfOpen(process.hThread);
        closeIfOpen(job);
        return code;
    }
    started.process = process.hProcess;
    started.thread = process.hThread;
    started.job = job;
    return 0;
}

DWORD startElevated(const char* program, const char* parameters, StartedProgram& started) {
    std::memset(&started, 0, sizeof started);
    HANDLE process = nullptr;
    const DWORD code = shellStart(program, parameters, process);
    // Started; process is null where the shell handed the start on in a way
    // that gives no handle: the caller cannot tell when it is done.
    if (code == 0) started.process = process;
    return code;
}

// The installer's handles are left to the end of the launcher, which follows at once.
DWORD startDetached(const char* program) {
    PROCESS_INFORMATION process;
    const DWORD code = createProgram(program, nullptr, NORMAL_PRIORITY_CLASS, process);
    if (code != errorElevationRequired) return code;
    HANDLE elevated = nullptr;
    return shellStart(program, nullptr, elevated);
}

void releaseProgram(StartedProgram& started) {
    closeIfOpen(started.process);
    closeIfOpen(started.thread);
    closeIfOpen(started.job);
}
