// Guards for the test seams and process-wide settings that tests change: each
// puts back what was there when it goes out of scope, so that a failed assertion
// never leaves a hook or a changed setting to the next test.
#pragma once
#include <windows.h>

#include <string>

#include "app/SetupApp.h"
#include "core/AnsiPath.h"
#include "core/Module.h"
#include "run/ProgramStart.h"
#include "run/watch/RunWatch.h"
#include "run/staging/StagingDirectory.h"
#include "run/staging/StagingGuard.h"
#include "ui/ProgressDialog.h"

class ProgressCallsGuard {
public:
    explicit ProgressCallsGuard(const ProgressDialogCalls& calls) { setProgressDialogCalls(&calls); }
    ~ProgressCallsGuard() { setProgressDialogCalls(nullptr); }
    ProgressCallsGuard(const ProgressCallsGuard&) = delete;
    ProgressCallsGuard& operator=(const ProgressCallsGuard&) = delete;
};

class ProgramStartCallsGuard {
public:
    explicit ProgramStartCallsGuard(const ProgramStartCalls& calls) { setProgramStartCalls(&calls); }
    ~ProgramStartCallsGuard() { setProgramStartCalls(nullptr); }
    ProgramStartCallsGuard(const ProgramStartCallsGuard&) = delete;
    ProgramStartCallsGuard& operator=(const ProgramStartCallsGuard&) = delete;
};

class MappedDriveCallsGuard {
public:
    explicit MappedDriveCallsGuard(const MappedDriveCalls* calls) { setMappedDriveCalls(calls); }
    ~MappedDriveCallsGuard() { setMappedDriveCalls(nullptr); }
    MappedDriveCallsGuard(const MappedDriveCallsGuard&) = delete;
    MappedDriveCallsGuard& operator=(const MappedDriveCallsGuard&) = delete;
};

class RunWatchCallsGuard {
public:
    explicit RunWatchCallsGuard(const RunWatchCalls& calls) { setRunWatchCalls(&calls); }
    ~RunWatchCallsGuard() { setRunWatchCalls(nullptr); }
    RunWatchCallsGuard(const RunWatchCallsGuard&) = delete;
    RunWatchCallsGuard& operator=(const RunWatchCallsGuard&) = delete;
};

class StagingDirectoryCallsGuard {
public:
    explicit StagingDirectoryCallsGuard(const StagingDirectoryCalls& calls) {
        setStagingDirectoryCalls(&calls);
    }
    ~StagingDirectoryCallsGuard() { setStagingDirectoryCalls(nullptr); }
    StagingDirectoryCallsGuard(const StagingDirectoryCallsGuard&) = delete;
    StagingDirectoryCallsGuard& operator=(const StagingDirectoryCallsGuard&) = delete;
};

class StagingGuardCallsGuard {
public:
    explicit StagingGuardCallsGuard(const StagingGuardCalls& calls) { setStagingGuardCalls(&calls); }
    ~StagingGuardCallsGuard() { setStagingGuardCalls(nullptr); }
    StagingGuardCallsGuard(const StagingGuardCallsGuard&) = delete;
    StagingGuardCallsGuard& operator=(const StagingGuardCallsGuard&) = delete;
};

// Starts made through ProgramStartCalls::createProcess: the first is told that
// the program needs administrator rights, as Windows tells a launcher that runs
// with the filtered token (Wine would start it as it is); the rest are made.
inline int programCreations = 0;

inline BOOL WINAPI needsElevationOnce(LPCSTR program, LPSTR commandLine,
                                      LPSECURITY_ATTRIBUTES processAttributes,
                                      LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags,
                                      LPVOID environment, LPCSTR directory, LPSTARTUPINFOA startup,
                                      LPPROCESS_INFORMATION process) {
    if (programCreations++ == 0) {
        SetLastError(errorElevationRequired);
        return FALSE;
    }
    return CreateProcessA(program, commandLine, processAttributes, threadAttributes, inherit, flags,
                          environment, directory, startup, process);
}

// The launcher as a user of an administrator account starts it under User
// Account Control: with the filtered token, not elevated (Wine gives every
// program a full token).
inline BOOL WINAPI tokenNotElevated(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID information, DWORD, PDWORD size) {
    static_cast<TOKEN_ELEVATION*>(information)->TokenIsElevated = 0;
    *size = sizeof(TOKEN_ELEVATION);
    return TRUE;
}

class UnelevatedLauncherGuard {
public:
    UnelevatedLauncherGuard() : calls(notElevated()) {}

private:
    static StagingGuardCalls notElevated() {
        StagingGuardCalls calls = {};
        calls.getTokenInformation = tokenNotElevated;
        return calls;
    }
    StagingGuardCallsGuard calls;
};

// The short-form query behind the ANSI forms of paths.
class ShortPathCallGuard {
public:
    explicit ShortPathCallGuard(ShortPathCall call) { setShortPathCall(call); }
    ~ShortPathCallGuard() { setShortPathCall(nullptr); }
    ShortPathCallGuard(const ShortPathCallGuard&) = delete;
    ShortPathCallGuard& operator=(const ShortPathCallGuard&) = delete;
};

// The GetTempPath2W that Windows may have.
class TempPath2CallGuard {
public:
    explicit TempPath2CallGuard(TempPathCall call) { setTempPath2Call(call); }
    ~TempPath2CallGuard() { setTempPath2Call(nullptr); }
    TempPath2CallGuard(const TempPath2CallGuard&) = delete;
    TempPath2CallGuard& operator=(const TempPath2CallGuard&) = delete;
};

// The module the dialogs are loaded from.
class AppInstanceGuard {
public:
    explicit AppInstanceGuard(HINSTANCE instance) : saved(appInstance()) { setAppInstance(instance); }
    ~AppInstanceGuard() { setAppInstance(saved); }
    AppInstanceGuard(const AppInstanceGuard&) = delete;
    AppInstanceGuard& operator=(const AppInstanceGuard&) = delete;

private:
    HINSTANCE saved;
};

// One environment variable; null removes it. Restored as it was, also when it
// was not set at all.
class EnvironmentGuard {
public:
    EnvironmentGuard(const char* name, const char* value) : name(name) {
        char buffer[32768];
        SetLastError(0);
        DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
        wasSet = length < sizeof buffer && (length > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND);
        if (wasSet) saved.assign(buffer, length);
        SetEnvironmentVariableA(name, value);
    }
    ~EnvironmentGuard() { SetEnvironmentVariableA(name.c_str(), wasSet ? saved.c_str() : nullptr); }
    EnvironmentGuard(const EnvironmentGuard&) = delete;
    EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

private:
    std::string name, saved;
    bool wasSet = false;
};

// The allocator behind allocateSetupState.
class AllocatorGuard {
public:
    explicit AllocatorGuard(AllocateFn replacement) { setAllocatorHook(replacement); }
    ~AllocatorGuard() { setAllocatorHook(nullptr); }
    AllocatorGuard(const AllocatorGuard&) = delete;
    AllocatorGuard& operator=(const AllocatorGuard&) = delete;
};
