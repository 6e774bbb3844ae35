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

FinalPathQuery finalPathQuery() {
    return testCalls.getFinalPathNameByHandle != nullptr ? testCalls.getFinalPathNameByHandle
                                                         : GetFinalPathNameByHandleW;
}

bool liesInWorkFolder(const RunWatch& watch, HANDLE process) {
    // Unknown is counted as work: waiting too long is bounded, starting the new
    // installer beside a running uninstaller loses the product.
    auto query = testCalls.queryFullProcessImageName != nullptr ? testCalls.queryFullProcessImageName
                                                                : QueryFullProcessImageNameW;
    return liesInWorkFolders(watch.workFolders, process, query, finalPathQuery());
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

HANDLE openToFollow(DWORD id) {
    return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
}

void follow(RunWatch& watch, HANDLE process, DWORD id, ULONGLONG createdAt) {
    watch.followed[watch.followedCount++] = {process, id, createdAt, liesInWorkFolder(watch, process), true};
}

// A noted descendant is held once the table has room again, so that the
// children it starts from then on are followed too. True when it was.
bool holdNoted(RunWatch& watch, UnheldProcess& noted, ULONGLONG listedAt) {
    if (watch.followedCount >= followedProcessCapacity) return false;
    HANDLE process = openToFollow(noted.id);
    const ULONGLONG createdAt = process != nullptr ? creationTime(process) : 0;
    if (createdAt == 0 || createdAt > listedAt) {
        if (process != nullptr) CloseHandle(process);
        return false;
    }
    follow(watch, process, noted.id, createdAt);
    noted.listed = false;  // followed from now on
    return true;
}

// Takes the listed process in when it is the child of a followed one: its
// parent's id is a followed process's (whose handle is held, so the id is that
// process's alone), and it was created after that process and before the list
// was taken (an id that passed to a new process since then is not its child).
// True when it was taken in or noted, or a noted one is now held.
bool takeInChild(RunWatch& watch, const PROCESSENTRY32& entry, ULONGLONG listedAt) {
    // Id 0 is no process's, and no process is its child (the descendants of a
    // program whose id could not be read count as work instead).
    if (entry.th32ProcessID == 0 || entry.th32ParentProcessID == 0) return false;
    if (followedById(watch, entry.th32ProcessID) != nullptr) return false;
    UnheldProcess* known = unheldById(watch, entry.th32ProcessID);
    if (known != nullptr && known->parentId == entry.th32ParentProcessID) {
        known->listed = true;
        return holdNoted(watch, *known, listedAt);
    }
    const FollowedProcess* parent = followedById(watch, entry.th32ParentProcessID);
    if (parent == nullptr || known != nullptr) return false;
    HANDLE process = openToFollow(entry.th32ProcessID);
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
    follow(watch, process, entry.th32ProcessID, createdAt);
    return true;
}

// One list of the system's processes, walked until it yields no further child
// (a child may be listed before its parent). Noted processes it no longer
// names have ended. False when no list could be had.
bool followDescendants(RunWatch& watch) {
    auto snapshot = testCalls.createToolhelp32Snapshot != nullptr ? testCalls.createToolhelp32Snapshot
                                                                  : CreateToolhelp32Snapshot;
    auto first = testCalls.process32First != nullptr ? testCalls.process32First : Process32First;
    auto next = testCalls.process32Next != nullptr ? testCalls.process32Next : Process32Next;
    // Read before the list is taken: a process created meanwhile, under the id
    // of one the list names, is then no child either.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG listedAt = asNumber(now);
    HANDLE list = snapshot(TH32CS_SNAPPROCESS, 0);
    if (list == INVALID_HANDLE_VALUE) return false;
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
    return true;
}

// A followed process that had ended before the latest list was read has every
// child it started in that list, taken in by now: its slot is free for the
// run's later processes. The program itself keeps the first.
void releaseEnded(RunWatch& watch) {
    unsigned kept = 1;
    for (unsigned i = 1; i < watch.followedCount; ++i) {
        if (watch.followed[i].running)
            watch.followed[kept++] = watch.followed[i];
        else
            CloseHandle(watch.followed[i].handle);
    }
    watch.followedCount = kept;
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
    takeWorkFolders(watch.workFolders, folders, folderCount, finalPathQuery());
    auto processId = testCalls.getProcessId != nullptr ? testCalls.getProcessId : GetProcessId;
    const DWORD id = processId(started.process);
    watch.followed[0] = {started.process, id, creationTime(started.process), true, true};
    watch.followedCount = 1;
    // Without its id, no process can be told as the program's child: whatever
    // it started counts as work, within the limit, never as nothing to follow.
    watch.lostTrack = id == 0;
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
    if (followDescendants(watch)) releaseEnded(watch);
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
