// The staging directory of an upgrade whose program runs elevated.
//
// The directory lies in the user's temporary directory, which every program of
// the user can write to. Once the program it holds will run with administrator
// rights, nothing in it may be added, changed, replaced or removed by such a
// program, and the directory must not be renamed away and replaced: the
// elevated program loads what it finds beside itself. The guard gives the
// directory and each staged file a descriptor under which only SYSTEM and
// Administrators may change anything and the owner may only read and run
// (through an OWNER RIGHTS entry, so that an owner who is the user cannot grant
// itself more again), holds each file without write or delete sharing (the
// directory is held without delete sharing from its creation on), and checks
// that the directory holds
// exactly the staged files, each byte for byte its source. What the guard
// guarantees and what it does not: docs/SECURITY.md, "The staging directory of
// an elevated upgrade".
#pragma once
#include <windows.h>

#include "run/staging/StagingDirectory.h"

// A staged file held by the guard, and the descriptor it had before.
struct GuardedFile {
    HANDLE handle;
    PSECURITY_DESCRIPTOR descriptor;
};

// What a guard holds: the directory's descriptor before it, and every staged
// file (as many as were staged: the table grows). All null (zero-initialised)
// when it holds nothing. The directory's handle is the staging directory's own,
// held from its creation (run/staging/StagingDirectory.h).
struct StagingGuard {
    HANDLE folder;                          // borrowed
    PSECURITY_DESCRIPTOR folderDescriptor;  // the directory's own before the guard
    GuardedFile* files;
    unsigned fileCount;
    unsigned fileCapacity;
};

// For a launcher that runs elevated, before anything is staged: makes the
// staging directory (run/staging/StagingDirectory.h) with the guard's
// descriptor from its first moment, so that no program of the user ever holds
// a right on it or on a file copied into it (a handle opened while the user
// still had one would keep it). 0, or the Windows error code (not shown):
// ERROR_NOT_SUPPORTED when its volume keeps no descriptors (FAT; the empty
// directory stays, let go of).
DWORD createGuardedStaging(const char* path, StagingDirectory& directory);

// Guards the staging directory after every file has been staged into it.
// sourceFolder: the installed copy's maintenance folder, ending in a backslash;
// responseSource: the medium's response file, the source of the staged file of
// that name. launcherElevated: the launcher runs elevated and removes what the
// elevated program leaves itself; else the directory's entries let the user,
// and no other account, remove what the program creates in it once it is done
// (they give no right to add, write or rename anything). 0 when the directory
// is guarded; else the Windows error code of what could not be had (not
// shown), and whatever was taken is let go again and every descriptor put back:
//   ERROR_SHARING_VIOLATION  another handle may write to or delete a staged file
//   ERROR_INVALID_DATA       the directory does not hold exactly the staged
//                            files, each byte for byte its source (an added,
//                            missing or changed file, a subdirectory, a link,
//                            a file with a second name)
//   ERROR_NOT_SUPPORTED      the directory's volume keeps no descriptors (FAT),
//                            found before anything is changed
//   ERROR_NOT_ENOUGH_MEMORY  no room to hold every file
DWORD guardStaging(const StagingDirectory& directory, const char* sourceFolder, const char* responseSource,
                   bool launcherElevated, StagingGuard& guard);

// Once the program and its work have ended: puts back the descriptors the
// directory and the files had before the guard, under which the launcher,
// elevated or not, removes everything, and lets go of the files. Safe on a
// guard that holds nothing, and twice.
void releaseStagingGuard(StagingGuard& guard);

// For a program that may run on after the launcher has stopped waiting for it
// (the user cancelled, or Windows started it without a handle to watch it by):
// lets go of the files and leaves the directory and the files with the
// guard's descriptors, so that the user's other programs still cannot add,
// change or replace anything there; the directory stays, as after any run that
// stopped early, and the next upgrade moves it aside.
void leaveStagingGuarded(StagingGuard& guard);

// Whether the launcher runs elevated (TokenElevation). Counts as elevated when
// that cannot be read: guarding a run that did not need it costs nothing,
// leaving an elevated one unguarded is the flaw the guard is there for.
bool launcherIsElevated();

// Test seam: the calls whose effect or answer Wine cannot give as Windows does
// (Wine keeps only what the Unix file mode can say of a descriptor given to a
// file or directory, and reads back that; every volume it reports keeps
// descriptors; its token is always elevated), and the allocations. A null
// pointer (or a null member) means the real call.
struct StagingGuardCalls {
    BOOL(WINAPI* setKernelObjectSecurity)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
    BOOL(WINAPI* getVolumeInformation)(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD);
    BOOL(WINAPI* getTokenInformation)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
    HLOCAL(WINAPI* localAlloc)(UINT, SIZE_T);
};
void setStagingGuardCalls(const StagingGuardCalls* calls);
