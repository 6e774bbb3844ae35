// The staging directory of an upgrade: made anew for every upgrade and held from
// its first moment, the maintenance files copied into it, and everything in it
// removed once the staged program has ended.
//
// The directory lies in the user's temporary directory, where every program of
// the user may rename or delete anything (it holds the right to delete children
// there, whatever an entry's own descriptor says). So the directory is created
// and opened in one step and held without delete sharing until the run is over:
// nobody can rename it away and put a folder of their own in its place. A
// folder of its name left by an earlier run is never used again: it is removed,
// or, where that cannot be done, moved aside. Nothing is ever removed through a
// link: each entry is opened without following a reparse point, checked
// through its handle to be what the listing named, and deleted through that
// handle; a directory is entered only through a handle checked to be a plain
// directory on the staging directory's volume (docs/SECURITY.md).
#pragma once
#include <windows.h>

#include <cstdint>

#include "core/SetupState.h"

// The staging directory made for this run.
struct StagingDirectory {
    char path[textCapacity];  // in the code page, without a trailing backslash
    HANDLE handle;            // held from its creation; null once let go of
    DWORD volume;             // the directory made, told apart from any
    ULONGLONG fileId;         // folder later found under its name
};

// "." and "..", which every listing of a directory holds.
bool isDotEntry(const char* name);

// Makes the staging directory at path (a full path in the code page) anew.
// Whatever stands there first, a leftover of an earlier run, a file or a link,
// is removed without a word, or, where it cannot be, moved aside within the
// temporary directory under a new name. The directory is then created and
// opened in one step; descriptor is given to it from its first moment (null:
// it inherits the temporary directory's entries). 0, or the Windows error code
// (not shown) of what could not be done; the directory then holds nothing.
DWORD makeStagingDirectory(const char* path, PSECURITY_DESCRIPTOR descriptor, StagingDirectory& directory);

// Copies every entry of sourceFolder (ending in a backslash) into the
// directory, replacing same-named files; a subdirectory is handed to the copy
// like a file, and its copy fails. 0, or the code of the copy or listing that
// failed (not shown). ERROR_PATH_NOT_FOUND: sourceFolder cannot be listed.
DWORD copyIntoStaging(const char* sourceFolder, const StagingDirectory& directory, bool& sourceListed);

// After the staged program has ended: waits a moment, then removes everything
// in the directory (files of any attribute, subdirectories) and the directory
// itself. Troubles with single entries and with the directory are shown and
// passed over; 0, or the code of a listing that broke off, already shown.
// The directory is let go of.
int32_t cleanUpStaging(StagingDirectory& directory);

// For a run that stopped early: lets go of the directory, which stays as it is.
void letGoOfStaging(StagingDirectory& directory);

// Test seam: the calls whose timing or answer a test must control. A null
// pointer (or a null member) means the real call.
using NtCreateFileCall = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, void* objectAttributes, void* ioStatus,
                                      PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
struct StagingDirectoryCalls {
    NtCreateFileCall ntCreateFile;                 // the creation of the directory
    BOOL(WINAPI* copyFile)(LPCSTR, LPCSTR, BOOL);  // each copy into it
    HANDLE(WINAPI* openEntry)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
};
void setStagingDirectoryCalls(const StagingDirectoryCalls* calls);
