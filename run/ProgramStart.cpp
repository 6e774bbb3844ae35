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

bool launcherInAJob() {
    BOOL inJob = FALSE;
    return IsProcessInJob(GetCurrentProcess(), nullptr, &inJob) && inJob;
}

BOOL createProgram(const char* program, char* commandLine, DWORD flags, PROCESS_INFORMATION& process) {
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    return CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                          &process);
}

// Starts the program, suspended until it is in the job when there is one (a job
// it cannot join is closed and dropped). 0, or the failure's code; the caller
// closes whatever process holds then.
DWORD startInJob(const char* program, char* commandLine, HANDLE& job, PROCESS_INFORMATION& process) {
    // Suspended until it is in the job: a copy it started at once would escape.
    const DWORD flags = NORMAL_PRIORITY_CLASS | (job != nullptr ? CREATE_SUSPENDED : 0);
    // Out of the launcher's own job, where that job allows it. Whether it does is
    // learnt by asking: its limits cannot be read everywhere (Wine reports none),
    // and a start it refuses starts nothing.
    const bool breakAway = job != nullptr && launcherInAJob();
    BOOL started =
        createProgram(program, commandLine, flags | (breakAway ? CREATE_BREAKAWAY_FROM_JOB : 0), process);
    if (!started && breakAway && GetLastError() == ERROR_ACCESS_DENIED)
        started = createProgram(program, commandLine, flags, process);
    if (!started) {
        const DWORD code = lastErrorOr(ERROR_GEN_FAILURE);
        std::memset(&process, 0, sizeof process);  // nothing of a failed start is ours to close
        return code;
    }
    if (job == nullptr) return 0;
    if (!joinJob(job, process.hProcess)) closeIfOpen(job);
    if (resume(process.hThread)) return 0;
    DWORD code = lastErrorOr(ERROR_GEN_FAILURE);
    // It has not run a single instruction: ended here, it leaves nothing
    // behind, where left suspended it would linger unseen for good.
    TerminateProcess(process.hProcess, code);
    return code;
}

}  // namespace

void setProgramStartCalls(const ProgramStartCalls* calls) {
    testCalls = calls != nullptr ? *calls : ProgramStartCalls{};
}

DWORD startProgram(const char* program, char* commandLine, bool wholeRun, StartedProgram& started) {
    std::memset(&started, 0, sizeof started);
    HANDLE job = wholeRun ? createWatchJob() : nullptr;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    const DWORD code = startInJob(program, commandLine, job, process);
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

void releaseProgram(StartedProgram& started) {
    closeIfOpen(started.process);
    closeIfOpen(started.thread);
    closeIfOpen(started.job);
}
