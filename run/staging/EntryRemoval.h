// The removal of what lies in the staging directory, never through a link.
// Each entry its directory's listing names is opened as itself
// (FILE_FLAG_OPEN_REPARSE_POINT), without delete sharing, so that it cannot be
// swapped while it is held; checked through that handle to be what the
// listing named (the same kind: link, directory or file; the same file id; on
// the staging directory's volume); and deleted through the same handle. A
// directory is entered only through a handle checked to be a plain directory.
#pragma once
#include <windows.h>

#include <cstddef>

// Room for a path below the staging directory, in UTF-16 and in its "\\?\"
// form: what the staged program made there may lie deeper than MAX_PATH, under
// names the code page cannot write.
constexpr size_t widePathCapacity = 32768;

using OpenEntryCall = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);

// An entry as its directory's listing named it.
struct ListedEntry {
    DWORD attributes;
    ULONGLONG fileId;  // 0: not known (the directory itself, found by its name)
};

struct Removal {
    wchar_t* path;  // the entry at hand, in the extended form
    size_t length;
    DWORD volume;  // the staging directory's: nothing on another volume is touched
    bool volumeKnown;
    bool show;           // clean-up: each failure shown and passed over; else the first ends it, unshown
    OpenEntryCall open;  // null: CreateFileW
};

ULONGLONG fileIdOf(const BY_HANDLE_FILE_INFORMATION& info);

// Removes every entry of a directory, listed through its own held handle.
// started: the first listing call succeeded. 0; or, removing silently, the
// first failure; a listing that broke off is returned (not shown) either way.
DWORD emptyThrough(Removal& removal, HANDLE folder, unsigned depth, bool& started);

// Removes the entry at removal.path: a link itself, a file, or a plain
// directory with everything in it (entered only when enter is set). 0, or its
// failure's code (shown when removal.show).
DWORD removeEntry(Removal& removal, const ListedEntry& listed, unsigned depth, bool enter);
