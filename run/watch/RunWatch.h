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
// The processes of the run are those found in the program's job (where it has
// one, see run/ProgramStart.h) together with the program's descendants,
// followed by their parent process ids once a step (in a job, from the
// program's end on: the job holds the rest meanwhile), in every mode: a process
// that broke away from the job, or a program of higher rights that could not
// join it, is still found. A process counts as the child of a followed one when
// its parent id is that process's and it was created after it, and the handle
// of every process followed is held, so that its id cannot pass to another
// process meanwhile. Whether a process still runs is sampled before the list
// that could name its new children is read, so that a child started just
// before its parent ended is in that list; once that list has been read, an
// ended process's slot is free for the processes that follow, so that a run of
// any length is followed to its end. A descendant that cannot be opened, or
// that does not fit the table (more running at once than it holds), counts as
// work while the process list still names it, and is held once there is room,
// so that its own children are followed from then on. A program whose process id
// cannot be read has descendants that cannot be told: they count as work. A
// descendant whose parent ended before the watch saw it is missed without a
// job; the job has no such gap. Where no process list can be had at all, the
// job alone, or the program alone, is waited for.
//
// The program itself is always waited for. Once it has ended, the rest of its
// work holds the run for at most lingeringWorkLimitMs; then the run counts as
// over, as if that work had ended.
#pragma once
#include <windows.h>
#include <tlhelp32.h>

#include "core/Pacing.h"
#include "core/SetupState.h"
#include "run/ProgramStart.h"
#include "run/watch/WorkFolders.h"

// A process of the run found by following parent ids.
struct FollowedProcess {
    HANDLE handle;  // held while the watch lasts (the first: the program's, borrowed)
    DWORD id;
    ULONGLONG createdAt;  // creation time, as a FILETIME number
    bool isWork;          // its program file lies in a work folder
    bool running;         // as sampled at the latest step, before its list was read
};

// A descendant that could not be held (not opened, or no room): known by its
// id and its parent's, work while a process list still names the two.
struct UnheldProcess {
    DWORD id;
    DWORD parentId;
    bool listed;  // named by the latest process list
};

struct RunWatch {
    HANDLE program;  // borrowed
    HANDLE job;      // borrowed; null: the program's descendants are followed
    WorkFolders workFolders;
    bool programEnded;
    ULONGLONG programEndSeenAt;  // on the watch's clock
    FollowedProcess followed[followedProcessCapacity];
    unsigned followedCount;
    UnheldProcess unheld[followedProcessCapacity];
    unsigned unheldCount;
    bool lostTrack;  // descendants that cannot be told (one not even noted, or the program's id
                     // unknown): work until the limit
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

// Test seam: the process lists, the clock of the limit and the names of program
// files. A null pointer (or a null member) means the real call.
struct RunWatchCalls {
    BOOL(WINAPI* queryInformationJobObject)(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD, LPDWORD);
    HANDLE(WINAPI* createToolhelp32Snapshot)(DWORD, DWORD);
    ULONGLONG(WINAPI* tickCount)();
    BOOL(WINAPI* process32First)(HANDLE, PROCESSENTRY32*);
    BOOL(WINAPI* process32Next)(HANDLE, PROCESSENTRY32*);
    ImageNameQuery queryFullProcessImageName;
    FinalPathQuery getFinalPathNameByHandle;
    DWORD(WINAPI* getProcessId)(HANDLE);
};
void setRunWatchCalls(const RunWatchCalls* calls);
