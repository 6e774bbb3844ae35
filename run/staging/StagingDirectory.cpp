#include "run/staging/StagingDirectory.h"

#include <cstring>

#include "core/Pacing.h"
#include "core/SetupState.h"
#include "core/SystemError.h"
#include "core/Text.h"
#include "core/UserTexts.h"

namespace {

// CopyFileA keeps a read-only attribute, and DeleteFileA refuses such a file.
// A link keeps its attributes: they might be those of the folder it points at.
void makeDeletable(const char* path, DWORD attributes) {
    const DWORD inTheWay = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && (attributes & inTheWay) != 0)
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
}

DWORD removeStagingEntry(const char* path, DWORD attributes);

// Each listing below is opened by its operation, walked by a helper that
// returns a status, and closed on the one path back.

// Removes the listed entries; 0 or the code of the first one that could not be
// removed (the rest is then left as it is).
DWORD removeListedEntries(HANDLE search, WIN32_FIND_DATAA& entry, const char* directory) {
    DWORD status = 0;
    do {
        if (isDotEntry(entry.cFileName)) continue;
        char path[textCapacity];
        // A name that does not fit cannot be removed, and must not be left there.
        if (!composeText(path, sizeof path, directory, "\\", entry.cFileName))
            status = ERROR_FILENAME_EXCED_RANGE;
        else
            status = removeStagingEntry(path, entry.dwFileAttributes);
    } while (status == 0 && FindNextFileA(search, &entry));
    if (status == 0) {
        DWORD code = GetLastError();
        if (code != ERROR_NO_MORE_FILES) status = code != 0 ? code : ERROR_GEN_FAILURE;
    }
    return status;
}

// Removes everything inside the directory.
DWORD emptyDirectory(const char* directory) {
    char pattern[textCapacity];
    if (!composeText(pattern, sizeof pattern, directory, "\\", "*.*")) return ERROR_FILENAME_EXCED_RANGE;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return lastErrorOr(ERROR_GEN_FAILURE);
    const DWORD status = removeListedEntries(search, entry, directory);
    FindClose(search);
    return status;
}

// A junction or symbolic link is removed itself and never followed: emptying the
// staging directory must not reach into the folder a link points at.
DWORD removeStagingEntry(const char* path, DWORD attributes) {
    bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    makeDeletable(path, attributes);
    if (directory && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        DWORD status = emptyDirectory(path);
        if (status != 0) return status;
    }
    BOOL removed = directory ? RemoveDirectoryA(path) : DeleteFileA(path);
    return removed ? 0 : lastErrorOr(ERROR_GEN_FAILURE);
}

}  // namespace

bool isDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

// The staging directory's name is fixed and %TEMP% is writable by every program
// of the user, so a folder of that name may already hold anything: files of an
// earlier run, or DLLs and programs put there ahead of time to be loaded or run
// by the elevated installer. Everything in it is removed before staging (links
// are removed, never followed), and what cannot be removed stops the stage
// before anything is copied or run. This covers only what is there when the
// clean-up runs: what a program of the user writes into it afterwards is kept
// out of an elevated run by the staging guard (run/staging/StagingGuard.h;
// docs/SECURITY.md, "The staging directory of an elevated upgrade").
DWORD clearStagingDirectory(const char* staging) {
    DWORD attributes = GetFileAttributesA(staging);
    DWORD status = 0;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return 0;
        status = code != 0 ? code : ERROR_GEN_FAILURE;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
               (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A file or a link in the directory's place.
        status = removeStagingEntry(staging, attributes);
    } else {
        status = emptyDirectory(staging);
    }
    return status;
}

namespace {

// Deletes the listed files. Deletion troubles are shown and passed over; only a
// broken listing ends it: 0, or that listing's code, reported once it is closed.
DWORD deleteListedFiles(HANDLE search, WIN32_FIND_DATAA& entry, const char* staging) {
    do {
        if (isDotEntry(entry.cFileName)) continue;
        char path[textCapacity];
        if (!composeText(path, sizeof path, staging, "\\", entry.cFileName)) {
            reportSystemError(ERROR_FILENAME_EXCED_RANGE);
            continue;
        }
        makeDeletable(path, entry.dwFileAttributes);
        if (!DeleteFileA(path)) reportFailureCode(GetLastError());
    } while (FindNextFileA(search, &entry));
    const DWORD code = GetLastError();
    if (code == ERROR_NO_MORE_FILES) return 0;
    return code != 0 ? code : ERROR_GEN_FAILURE;
}

}  // namespace

int32_t cleanUpStaging(const char* staging) {
    Sleep(cleanupPauseMs);
    char pattern[textCapacity];
    if (!composeText(pattern, sizeof pattern, staging, "\\", "*.*"))
        return reportSystemError(ERROR_FILENAME_EXCED_RANGE);
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) {
        reportFailure(textNoStagedFiles);
    } else {
        const DWORD code = deleteListedFiles(search, entry, staging);
        FindClose(search);
        if (code != 0) return reportFailureCode(code);
    }
    if (!RemoveDirectoryA(staging)) reportFailureCode(GetLastError());
    return 0;
}
