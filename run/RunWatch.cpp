#include "run/RunWatch.h"

#include <tlhelp32.h>

#include <cstring>

namespace {

// Written only by tests, while no run is watched.
RunWatchCalls testCalls = {};

ULONGLONG clockNow() { return testCalls.tickCount != nullptr ? testCalls.tickCount() : GetTickCount64(); }

bool isRunning(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

ULONGLONG asNumber(const FILETIME& time) {
    return static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// Zero when the time cannot be read.
ULONGLONG creationTime(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return asNumber(created);
}

bool liesInWorkFolder(const RunWatch& watch, HANDLE process) {
    // Unknown is counted as work: waiting too long is bounded, starting the new
    // installer beside a running uninstaller loses the product.
    return liesInWorkFolders(watch.workFolders, process);
}

// ---- The program's job.

// Room for the ids of this many processes; a job holding more is not looked into.
constexpr unsigned listedIdCapacity = 64;

struct ProcessIdList {
    JOBOBJECT_BASIC_PROCESS_ID_LIST head;  // holds the first id
    ULONG_PTR moreIds[listedIdCapacity - 1];
};

// Whether the listed process carries on the work. Should its id have passed to
// another process since the list was read, that one is judged in its place for
// this step alone: the next list no longer names it.
bool isWorkInJob(const RunWatch& watch, DWORD id) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    // Gone since the list was read; or there but closed to the launcher.
    if (process == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
    const bool work = liesInWorkFolder(watch, process);
    CloseHandle(process);
    return work;
}

// True when a process of the job carries on the work; the job is given up (and
// its watch turns to the program's descendants) when its list cannot be read.
bool jobHoldsWork(RunWatch& watch) {
    auto query = testCalls.queryInformationJobObject != nullptr ? testCalls.queryInformationJobObject
                                                                : QueryInformationJobObject;
    ProcessIdList list;
    std::memset(&list, 0, sizeof list);
    if (!query(watch.job, JobObjectBasicProcessIdList, &list, sizeof list, nullptr)) {
        if (GetLastError() == ERROR_MORE_DATA) return true;  // too many to look into: work, surely
        watch.job = nullptr;
        return false;
    }
    const ULONG_PTR* ids = list.head.ProcessIdList;
    for (DWORD i = 0; i < list.head.NumberOfProcessIdsInList && i < listedIdCapacity; ++i)
        if (isWorkInJob(watch, static_cast<DWORD>(ids[i]))) return true;
    return false;
}

// ---- The program's descendants, by parent process id.

FollowedProcess* followedById(RunWatch& watch, DWORD id) {
    for (unsigned i = 0; i < watch.followedCount; ++i)
        if (watch.followed[i].id == id) return &watch.followed[i];
    return nullptr;
}

// Takes the listed process in when it is the child of a followed one: its
// parent's id is a followed process's (whose handle is held, so the id is that
// process's alone), and it was created after that process and before the list
// was taken (an id that passed to a new process since then is not its child).
bool takeInChild(RunWatch& watch, const PROCESSENTRY32& entry, ULONGLONG listedAt) {
    if (watch.followedCount >= followedProcessCapacity) return false;
    if (followedById(watch, entry.th32ProcessID) != nullptr) return false;
    const FollowedProcess* parent = followedById(watch, entry.th32ParentProcessID);
    if (parent == nullptr) return false;
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (process == nullptr) return false;
    const ULONGLONG createdAt = creationTime(process);
    if (createdAt == 0 || createdAt < parent->createdAt || createdAt > listedAt) {
        CloseHandle(process);
        return false;
    }
    watch.followed[watch.followedCount++] = {process, entry.th32ProcessID, createdAt,
                                             liesInWorkFolder(watch, process)};
    return true;
}

// One list of the system's processes, walked until it yields no further child
// (a child may be listed before its parent).
void followDescendants(RunWatch& watch) {
    auto snapshot = testCalls.createToolhelp32Snapshot != nullptr ? testCalls.createToolhelp32Snapshot
                                                                  : CreateToolhelp32Snapshot;
    HANDLE list = snapshot(TH32CS_SNAPPROCESS, 0);
    if (list == INVALID_HANDLE_VALUE) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG listedAt = asNumber(now);
    bool found = true;
    while (found) {
        found = false;
        PROCESSENTRY32 entry;
        std::memset(&entry, 0, sizeof entry);
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(list, &entry); more; more = Process32Next(list, &entry))
            if (takeInChild(watch, entry, listedAt)) found = true;
    }
    CloseHandle(list);
}

bool descendantsHoldWork(const RunWatch& watch) {
    // The first is the program itself, which has ended by now.
    for (unsigned i = 1; i < watch.followedCount; ++i)
        if (watch.followed[i].isWork && isRunning(watch.followed[i].handle)) return true;
    return false;
}

}  // namespace

void setRunWatchCalls(const RunWatchCalls* calls) { testCalls = calls != nullptr ? *calls : RunWatchCalls{}; }

void beginRunWatch(RunWatch& watch, const StartedProgram& started, const char* const* folders,
                   unsigned folderCount) {
    std::memset(&watch, 0, sizeof watch);
    watch.program = started.process;
    watch.job = started.job;
    takeWorkFolders(watch.workFolders, folders, folderCount);
    watch.followed[0] = {started.process, GetProcessId(started.process), creationTime(started.process), true};
    watch.followedCount = 1;
}

bool runWatchOver(void* state) {
    RunWatch& watch = *static_cast<RunWatch*>(state);
    // Descendants are looked for while the program runs too: a copy it starts
    // may start another and end before the program does.
    if (watch.job == nullptr) followDescendants(watch);
    // A failed wait counts as a running program, as without a watch.
    if (WaitForSingleObject(watch.program, 0) != WAIT_OBJECT_0) return false;
    const ULONGLONG now = clockNow();
    if (!watch.programEnded) {
        watch.programEnded = true;
        watch.programEndSeenAt = now;
    }
    if (now - watch.programEndSeenAt >= lingeringWorkLimitMs) return true;
    if (watch.job == nullptr) return !descendantsHoldWork(watch);
    if (jobHoldsWork(watch)) return false;
    // A job whose list cannot be read has just been given up: from the next step
    // on, the program's descendants are followed in its place.
    return watch.job != nullptr;
}

void endRunWatch(RunWatch& watch) {
    // The first handle is the program's, which its starter closes.
    for (unsigned i = 1; i < watch.followedCount; ++i) CloseHandle(watch.followed[i].handle);
    watch.followedCount = 0;
}
