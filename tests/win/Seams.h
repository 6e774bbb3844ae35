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

// A seam set for the guard's lifetime; the real call is put back after it.
// For a record of calls, given by reference (the setter keeps a copy):
template <typename Calls, void (*set)(const Calls*)>
class CallsGuard {
public:
    explicit CallsGuard(const Calls& calls) { set(&calls); }
    ~CallsGuard() { set(nullptr); }
    CallsGuard(const CallsGuard&) = delete;
    CallsGuard& operator=(const CallsGuard&) = delete;
};

// For a single call, or a record given by pointer (null: the real calls):
template <typename Value, void (*set)(Value)>
class SeamGuard {
public:
    explicit SeamGuard(Value value) { set(value); }
    ~SeamGuard() { set(nullptr); }
    SeamGuard(const SeamGuard&) = delete;
    SeamGuard& operator=(const SeamGuard&) = delete;
};

using ProgressCallsGuard = CallsGuard<ProgressDialogCalls, setProgressDialogCalls>;
using ProgramStartCallsGuard = CallsGuard<ProgramStartCalls, setProgramStartCalls>;
using RunWatchCallsGuard = CallsGuard<RunWatchCalls, setRunWatchCalls>;
using StagingDirectoryCallsGuard = CallsGuard<StagingDirectoryCalls, setStagingDirectoryCalls>;
using StagingGuardCallsGuard = CallsGuard<StagingGuardCalls, setStagingGuardCalls>;
// The drive letters of the user's logon session.
using MappedDriveCallsGuard = SeamGuard<const MappedDriveCalls*, setMappedDriveCalls>;
// The short-form query behind the ANSI forms of paths.
using ShortPathCallGuard = SeamGuard<ShortPathCall, setShortPathCall>;
// The GetTempPath2W that Windows may have.
using TempPath2CallGuard = SeamGuard<TempPathCall, setTempPath2Call>;

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
