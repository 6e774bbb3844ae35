#include "run/watch/RunWatch.h"

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
    auto query = testCalls.queryFullProcessImageName != nullptr ? testCalls.queryFullProcessImageName
                                                                : QueryFullProcessImageNameW;
    return liesInWorkFolders(watch.workFolders, process, query);
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

UnheldProcess* unheldById(RunWatch& watch, DWORD id) {
    for (unsigned i = 0; i < watch.unheldCount; ++i)
        if (watch.unheld[i].id == id) return &watch.unheld[i];
    return nullptr;
}

// A descendant that cannot be held is still work: noted by its ids, or, with
// no room even for that, the run is held until the limit.
void noteUnheld(RunWatch& watch, const PROCESSENTRY32& entry) {
    if (watch.unheldCount >= followedProcessCapacity) {
        watch.lostTrack = true;
        return;
    }
    watch.unheld[watch.unheldCount++] = {entry.th32ProcessID, entry.th32ParentProcessID, true};
}

// Takes the listed process in when it is the child of a followed one: its
// parent's id is a followed process's (whose handle is held, so the id is that
// process's alone), and it was created after that process and before the list
// was taken (an id that passed to a new process since then is not its child).
// True when it was taken in or noted.
bool takeInChild(RunWatch& watch, const PROCESSENTRY32& entry, ULONGLONG listedAt) {
    // Id 0 is no process's: a program whose id could not be read has no children.
    if (entry.th32ProcessID == 0 || entry.th32ParentProcessID == 0) return false;
    if (followedById(watch, entry.th32ProcessID) != nullptr) return false;
    UnheldProcess* known = unheldById(watch, entry.th32ProcessID);
    if (known != nullptr && known->parentId == entry.th32ParentProcessID) {
        known->listed = true;
        return false;
    }
    const FollowedProcess* parent = followedById(watch, entry.th32ParentProcessID);
    if (parent == nullptr || known != nullptr) return false;
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    const ULONGLONG createdAt = process != nullptr ? creationTime(process) : 0;
    if (process != nullptr && createdAt != 0 && (createdAt < parent->createdAt || createdAt > listedAt)) {
        CloseHandle(process);  // an id that another process had: no child of ours
        return false;
    }
    if (createdAt == 0 || watch.followedCount >= followedProcessCapacity) {
        if (process != nullptr) CloseHandle(process);
        noteUnheld(watch, entry);
        return true;
    }
    watch.followed[watch.followedCount++] = {process, entry.th32ProcessID, createdAt,
                                             liesInWorkFolder(watch, process), true};
    return true;
}

// One list of the system's processes, walked until it yields no further child
// (a child may be listed before its parent). Noted processes it no longer
// names have ended.
void followDescendants(RunWatch& watch) {
    auto snapshot = testCalls.createToolhelp32Snapshot != nullptr ? testCalls.createToolhelp32Snapshot
                                                                  : CreateToolhelp32Snapshot;
    auto first = testCalls.process32First != nullptr ? testCalls.process32First : Process32First;
    auto next = testCalls.process32Next != nullptr ? testCalls.process32Next : Process32Next;
    HANDLE list = snapshot(TH32CS_SNAPPROCESS, 0);
    if (list == INVALID_HANDLE_VALUE) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG listedAt = asNumber(now);
    for (unsigned i = 0; i < watch.unheldCount; ++i) watch.unheld[i].listed = false;
    bool found = true;
    while (found) {
        found = false;
        PROCESSENTRY32 entry;
        std::memset(&entry, 0, sizeof entry);
        entry.dwSize = sizeof entry;
        for (BOOL more = first(list, &entry); more; more = next(list, &entry))
            if (takeInChild(watch, entry, listedAt)) found = true;
    }
    CloseHandle(list);
    unsigned kept = 0;
    for (unsigned i = 0; i < watch.unheldCount; ++i)
        if (watch.unheld[i].listed) watch.unheld[kept++] = watch.unheld[i];
    watch.unheldCount = kept;
}

// Whether each followed descendant runs, sampled before the next list is read.
void sampleDescendants(RunWatch& watch) {
    for (unsigned i = 1; i < watch.followedCount; ++i)
        watch.followed[i].running = isRunning(watch.followed[i].handle);
}

bool descendantsHoldWork(const RunWatch& watch) {
    if (watch.lostTrack || watch.unheldCount > 0) return true;
    // The first is the program itself, which has ended by now.
    for (unsigned i = 1; i < watch.followedCount; ++i)
        if (watch.followed[i].isWork && watch.followed[i].running) return true;
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
    watch.followed[0] = {started.process, GetProcessId(started.process), creationTime(started.process), true,
                         true};
    watch.followedCount = 1;
}

bool runWatchOver(void* state) {
    RunWatch& watch = *static_cast<RunWatch*>(state);
    // Sampled before the process list is read: a child that a process started
    // before it ended is then in that list. A failed wait counts as a running
    // program, as without a watch.
    const bool programEnded = WaitForSingleObject(watch.program, 0) == WAIT_OBJECT_0;
    // In a job, whatever the program starts stays there unless it breaks away,
    // and what breaks away from the program itself is still its child when it
    // has ended: the process list, which costs more than the rest of a step
    // together, is read from then on. Without a job it is read at every step: a
    // copy the program starts may start another and end before the program does.
    if (!programEnded && watch.job != nullptr) return false;
    sampleDescendants(watch);
    followDescendants(watch);
    if (!programEnded) return false;
    const ULONGLONG now = clockNow();
    if (!watch.programEnded) {
        watch.programEnded = true;
        watch.programEndSeenAt = now;
    }
    if (now - watch.programEndSeenAt >= lingeringWorkLimitMs) return true;
    if (descendantsHoldWork(watch)) return false;
    // A job whose list cannot be read is given up; its descendants are followed anyway.
    return watch.job == nullptr || !jobHoldsWork(watch);
}

void endRunWatch(RunWatch& watch) {
    // The first handle is the program's, which its starter closes.
    for (unsigned i = 1; i < watch.followedCount; ++i) CloseHandle(watch.followed[i].handle);
    watch.followedCount = 0;
}
