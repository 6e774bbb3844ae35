// Starting the programs the launcher runs: the maintenance program, so that its
// whole run can be watched, and the new installer.
//
// Many uninstallers relaunch themselves from a temporary copy and return at
// once; the run is over only when that copy has ended too. Started with
// wholeRun, the program is put into a job of its own before it runs a single
// instruction, and every process it starts joins that job (a process that asks
// to break away may: the watch follows the program's descendants as well, see
// run/watch/RunWatch.h). When the launcher itself runs inside a job (put there by a
// service, a scheduled task or a build agent), the program stays in that job and
// the launcher's job nests inside it, so that the outer job's limits still hold
// for it (Windows 8 and later). Only where the outer job refuses the nesting
// (Windows Vista and 7) is the program started out of it, where it allows that;
// a program that would end up outside both jobs is started inside the outer one,
// without a job of the launcher's. Where no job can be had, the program runs
// without one; nothing is shown for that. The job never limits or ends
// anything: closing it leaves every program running.
//
// Elevation. A user of an administrator account runs the launcher with the
// filtered token of User Account Control, and Windows refuses to create a
// process that needs administrator rights from it (ERROR_ELEVATION_REQUIRED):
// a program whose manifest asks for them, or an older program that Windows
// takes for an installer by its name. Such a program is started through the
// shell with the verb "runas", which asks the user for consent.
#pragma once
#include <windows.h>
#include <shellapi.h>

// Windows' answer to a start, without a prompt, of a program that needs
// administrator rights (ERROR_ELEVATION_REQUIRED; MinGW's headers lack it).
inline constexpr DWORD errorElevationRequired = 740;

// The started program: its process and first thread (null after a start
// through the shell), and the job that holds it with every process it starts
// (null: none).
struct StartedProgram {
    HANDLE process;
    HANDLE thread;
    HANDLE job;
};

// Starts program with commandLine as its whole command line (normal priority,
// the launcher's environment and current directory, no inherited handles).
// 0, or the Windows error code of a start that failed (not shown; nothing is
// left running and started is all null). errorElevationRequired: the program
// needs administrator rights; startElevated starts it.
DWORD startProgram(const char* program, char* commandLine, bool wholeRun, StartedProgram& started);

// Starts program with parameters (null or empty: none) through the shell with
// the verb "runas", so that Windows asks for consent (or for an administrator's
// password), in the launcher's current directory, its prompt owned by a window
// of the launcher's. The program's path and the directory are handed on by the
// share's name where they lie on a drive the user mapped, which an elevated
// program does not have. 0, or the Windows error code of a start that failed
// (not shown): ERROR_CANCELLED when consent was not given. After a start,
// started.process may be null: Windows started the program without a handle
// to it. No job: a program of higher rights cannot be put into a job of the
// launcher's.
DWORD startElevated(const char* program, const char* parameters, StartedProgram& started);

// Starts the new installer as it is, with no command line, not to be waited
// for; through the shell where it needs elevation. 0 or the code of the start
// that failed (not shown).
DWORD startDetached(const char* program);

// Closes the handles of a started program; the programs themselves run on.
void releaseProgram(StartedProgram& started);

// Test seam: the calls of a start that only Windows can make fail. A null
// pointer (or a null member) means the real call.
struct ProgramStartCalls {
    HANDLE(WINAPI* createJobObject)(LPSECURITY_ATTRIBUTES, LPCSTR);
    BOOL(WINAPI* setInformationJobObject)(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD);
    BOOL(WINAPI* assignProcessToJobObject)(HANDLE, HANDLE);
    DWORD(WINAPI* resumeThread)(HANDLE);
    decltype(&CreateProcessA) createProcess;
    BOOL(WINAPI* shellExecuteEx)(SHELLEXECUTEINFOA*);
};
void setProgramStartCalls(const ProgramStartCalls* calls);

// The drive letters of the user's logon session: Wine has one set for every
// program, where Windows gives an elevated program a set of its own.
struct MappedDriveCalls {
    UINT(WINAPI* getDriveType)(LPCSTR);
    DWORD(WINAPI* getConnection)(LPCSTR, LPSTR, LPDWORD);
};
void setMappedDriveCalls(const MappedDriveCalls* calls);
