// The work folders of a maintenance run, and whether a process's program file
// lies in one of them.
//
// A folder can be reached in many ways: through a subst drive, a junction or a
// symbolic link, by its short (8.3) name or its long one, with its letters in
// any case; and a name outside the code page reaches the ANSI calls as '?'.
// Both sides of the comparison are therefore taken in their final form (the
// path the file system resolves them to, in UTF-16) and compared without regard
// to case as the file system compares names. A side that cannot be made final
// counts the process as work: the watch errs towards waiting, never towards
// starting the new installer beside a running uninstaller.
//
// The launcher is a 32-bit program: on 64-bit Windows (and under Wine) its file
// calls on the system folder (System32) reach the 32-bit one (SysWOW64) instead,
// through WOW64's file-system redirection. The work folders are taken as the
// launcher names them, redirected like every file it staged and like the paths
// of the 32-bit programs it starts; a process's program file is named by the
// system as it lies on disk, and is opened so, without redirection, or a 64-bit
// program from System32 (a console host) would be another file there, or none.
#pragma once
#include <windows.h>

// Room for a final path, in UTF-16 units with the terminator; a longer one
// cannot be had, and counts as unknown.
constexpr DWORD finalPathCapacity = 1024;

struct WorkFolders {
    char16_t finalPaths[2][finalPathCapacity];
    unsigned count;
    bool unknown;  // a folder whose final path could not be had: every process counts as work
};

// The query of a process's program file (QueryFullProcessImageNameW) and of an
// open file's final path (GetFinalPathNameByHandleW); a test may answer in
// their place.
using ImageNameQuery = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
using FinalPathQuery = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// Takes the folders (at most two; full paths in the code page, with or without
// their backslash) in their final forms.
void takeWorkFolders(WorkFolders& folders, const char* const* paths, unsigned count,
                     FinalPathQuery finalPath);

// True when the process's program file lies in a work folder or one of its
// subfolders, and when that cannot be told.
bool liesInWorkFolders(const WorkFolders& folders, HANDLE process, ImageNameQuery imageName,
                       FinalPathQuery finalPath);
