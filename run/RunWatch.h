// Watching a maintenance run to its end: which processes hold the upgrade, and
// for how long.
//
// The run is the started program and the processes that carry on its work: an
// uninstaller's copy of itself relaunched from the temporary directory, a helper
// from the maintenance program's own folder. They are told apart by where their
// program file lies (the work folders, subfolders included): a browser showing a
// survey, a viewer opening a readme or a tray program is started from elsewhere,
// is no part of the maintenance work and does not hold the upgrade. A process
// whose program file cannot be read counts as work: the watch errs towards
// waiting, never towards starting the new installer beside a running uninstaller.
//
// The processes are found in the program's job. Without one (see
// run/ProgramStart.h) the program's descendants are followed by their parent
// process ids, once a step: a process counts as the child of a known one when
// its parent id is that process's and it was created after it, and the handle
// of every process found is held, so that its id cannot pass to another
// process meanwhile. A descendant whose parent ended before the watch saw it is
// missed there; the job has no such gap. Where no process list can be had at
// all, the program alone is waited for.
//
// The program itself is always waited for. Once it has ended, the rest of its
// work holds the run for at most lingeringWorkLimitMs; then the run counts as
// over, as if that work had ended.
#pragma once
#include <windows.h>

#include "core/Pacing.h"
#include "core/SetupState.h"
#include "run/ProgramStart.h"
#include "run/WorkFolders.h"

// A process of the run found by following parent ids.
struct FollowedProcess {
    HANDLE handle;  // held while the watch lasts (the first: the program's, borrowed)
    DWORD id;
    ULONGLONG createdAt;  // creation time, as a FILETIME number
    bool isWork;          // its program file lies in a work folder
};

struct RunWatch {
    HANDLE program;  // borrowed
    HANDLE job;      // borrowed; null: the program's descendants are followed
    WorkFolders workFolders;
    bool programEnded;
    ULONGLONG programEndSeenAt;  // on the watch's clock
    FollowedProcess followed[followedProcessCapacity];
    unsigned followedCount;
};

// Starts watching a program that has just been started. folders: the work
// folders (at most two; each a full path, with or without its backslash).
void beginRunWatch(RunWatch& watch, const StartedProgram& started, const char* const* folders,
                   unsigned folderCount);

// The monitor's test of the run's end; state is the RunWatch. At most one
// process list is read per call.
bool runWatchOver(void* state);

// Closes the handles the watch holds; the processes run on.
void endRunWatch(RunWatch& watch);

// Test seam: the process lists and the clock of the limit. A null pointer (or
// a null member) means the real call.
struct RunWatchCalls {
    BOOL(WINAPI* queryInformationJobObject)(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD, LPDWORD);
    HANDLE(WINAPI* createToolhelp32Snapshot)(DWORD, DWORD);
    ULONGLONG(WINAPI* tickCount)();
};
void setRunWatchCalls(const RunWatchCalls* calls);
