// Starting the maintenance program so that its whole run can be watched.
//
// Many uninstallers relaunch themselves from a temporary copy and return at
// once; the run is over only when that copy has ended too. Started with
// wholeRun, the program is put into a job of its own before it runs a single
// instruction, and every process it starts joins that job (a process that asks
// to break away may). When the launcher itself runs inside a job (put there by
// a service, a scheduled task or a build agent), the program is started out of
// that job where it allows so: on Windows Vista and 7 jobs do not nest, and a
// program left inside the outer job cannot join the launcher's. Where no job
// can be had (the outer job allows no breakaway and refuses nesting, or a job
// call fails) the program runs without one and the watch follows its
// descendants instead (run/RunWatch.h); nothing is shown for that.
// The job never limits or ends anything: closing it leaves every program running.
#pragma once
#include <windows.h>

// The started program: its process and first thread, and the job that holds it
// with every process it starts (null: its process alone is watched).
struct StartedProgram {
    HANDLE process;
    HANDLE thread;
    HANDLE job;
};

// Starts program with commandLine as its whole command line (normal priority,
// the launcher's environment and current directory, no inherited handles).
// 0, or the Windows error code of a start that failed (not shown; nothing is
// left running and started is all null).
DWORD startProgram(const char* program, char* commandLine, bool wholeRun, StartedProgram& started);

// Closes the handles of a started program; the programs themselves run on.
void releaseProgram(StartedProgram& started);

// Test seam: the job calls, and the resumption of the suspended program. A null
// pointer (or a null member) means the real call.
struct ProgramStartCalls {
    HANDLE(WINAPI* createJobObject)(LPSECURITY_ATTRIBUTES, LPCSTR);
    BOOL(WINAPI* setInformationJobObject)(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD);
    BOOL(WINAPI* assignProcessToJobObject)(HANDLE, HANDLE);
    DWORD(WINAPI* resumeThread)(HANDLE);
};
void setProgramStartCalls(const ProgramStartCalls* calls);
