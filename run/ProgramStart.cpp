#include "run/ProgramStart.h"

#include <cstring>

namespace {

// Written only by tests, while no program is being started.
ProgramStartCalls testCalls = {};

DWORD lastErrorOr(DWORD fallback) {
    DWORD code = GetLastError();
    return code != 0 ? code : fallback;
}

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

}  // namespace

void setProgramStartCalls(const ProgramStartCalls* calls) {
    testCalls = calls != nullptr ? *calls : ProgramStartCalls{};
}

DWORD startProgram(const char* program, char* commandLine, bool wholeRun, StartedProgram& started) {
    std::memset(&started, 0, sizeof started);
    HANDLE job = wholeRun ? createWatchJob() : nullptr;
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    // Suspended until it is in the job: a copy it started at once would escape.
    DWORD flags = NORMAL_PRIORITY_CLASS | (job != nullptr ? CREATE_SUSPENDED : 0);
    if (!CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                        &process)) {
        DWORD code = lastErrorOr(ERROR_GEN_FAILURE);
        closeIfOpen(job);
        return code;
    }
    if (job != nullptr) {
        if (!joinJob(job, process.hProcess)) closeIfOpen(job);
        if (!resume(process.hThread)) {
            DWORD code = lastErrorOr(ERROR_GEN_FAILURE);
            // It has not run a single instruction: ended here, it leaves nothing
            // behind, where left suspended it would linger unseen for good.
            TerminateProcess(process.hProcess, code);
            closeIfOpen(job);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
            return code;
        }
    }
    started.process = process.hProcess;
    started.thread = process.hThread;
    started.job = job;
    return 0;
}

void releaseProgram(StartedProgram& started) {
    closeIfOpen(started.process);
    closeIfOpen(started.thread);
    closeIfOpen(started.job);
}
