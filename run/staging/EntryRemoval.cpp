#include "run/staging/EntryRemoval.h"

#include <cstring>

#include "core/SystemError.h"

namespace {

// Folders nested deeper than this are not entered: left, and told.
constexpr unsigned nestingLimit = 64;
// An entry that is not what its listing named: swapped since, or a link that
// the open followed after all.
constexpr DWORD entryNotAsListed = ERROR_CANT_ACCESS_FILE;

constexpr DWORD kindBits = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

DWORD failure(const Removal& removal, DWORD code) {
    if (removal.show) reportFailureCode(code);
    return code;
}

HANDLE openEntry(const Removal& removal, bool directory) {
    auto open = removal.open != nullptr ? removal.open : CreateFileW;
    // No delete sharing: while it is held, nobody renames it or puts another
    // entry in its place. Its own link, never what a link points at.
    const DWORD access = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE |
                         (directory ? FILE_LIST_DIRECTORY | FILE_TRAVERSE : 0);
    return open(removal.path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The handle holds what the listing named: the same kind (link, directory or
// file), the same file, on the staging directory's volume. Wine opens a Unix
// link as what it points at, whatever the flags say: its listing still calls
// it a link, and the two then disagree.
DWORD checkEntry(Removal& removal, HANDLE entry, const ListedEntry& listed,
                 BY_HANDLE_FILE_INFORMATION& info) {
    if (!GetFileInformationByHandle(entry, &info)) return lastErrorOr(ERROR_GEN_FAILURE);
    if (!removal.volumeKnown) {
        removal.volume = info.dwVolumeSerialNumber;
        removal.volumeKnown = true;
    }
    if ((info.dwFileAttributes & kindBits) != (listed.attributes & kindBits) ||
        info.dwVolumeSerialNumber != removal.volume ||
        (listed.fileId != 0 && fileIdOf(info) != listed.fileId))
        return entryNotAsListed;
    return 0;
}

// Deletes the entry through its handle. A read-only, hidden or system file
// cannot be deleted as it is; its attributes are cleared through the same
// handle first, unless it has a second name elsewhere (that file is not ours
// to change).
DWORD deleteThrough(HANDLE entry, const BY_HANDLE_FILE_INFORMATION& info) {
    const DWORD inTheWay = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const bool directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((info.dwFileAttributes & inTheWay) != 0 && (directory || info.nNumberOfLinks <= 1)) {
        FILE_BASIC_INFO basic;
        std::memset(&basic, 0, sizeof basic);
        basic.FileAttributes = info.dwFileAttributes & ~(inTheWay | kindBits);
        if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic);
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof disposition)) return 0;
    return lastErrorOr(ERROR_GEN_FAILURE);
}

}  // namespace

ULONGLONG fileIdOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return static_cast<ULONGLONG>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
}

DWORD emptyThrough(Removal& removal, HANDLE folder, unsigned depth, bool& started) {
    alignas(LONGLONG) BYTE listing[4096];
    FILE_INFO_BY_HANDLE_CLASS next = FileIdBothDirectoryRestartInfo;
    started = false;
    for (;;) {
        if (!GetFileInformationByHandleEx(folder, next, listing, sizeof listing)) {
            const DWORD code = lastErrorOr(ERROR_GEN_FAILURE);
            return code == ERROR_NO_MORE_FILES ? 0 : code;
        }
        started = true;
        next = FileIdBothDirectoryInfo;
        for (BYTE* at = listing;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            const size_t nameLength = entry->FileNameLength / sizeof(wchar_t);
            const bool dots = (nameLength == 1 || nameLength == 2) && entry->FileName[0] == L'.' &&
                              entry->FileName[nameLength - 1] == L'.';
            if (!dots) {
                const size_t before = removal.length;
                DWORD code = ERROR_FILENAME_EXCED_RANGE;
                if (before + 1 + nameLength < widePathCapacity) {
                    removal.path[removal.length++] = L'\\';
                    std::memcpy(removal.path + removal.length, entry->FileName, entry->FileNameLength);
                    removal.length += nameLength;
                    removal.path[removal.length] = L'\0';
                    const ListedEntry listed = {entry->FileAttributes,
                                                static_cast<ULONGLONG>(entry->FileId.QuadPart)};
                    code = removeEntry(removal, listed, depth, true);
                } else {
                    failure(removal, code);
                }
                removal.length = before;
                removal.path[before] = L'\0';
                if (code != 0 && !removal.show) return code;
            }
            if (entry->NextEntryOffset == 0) break;
            at += entry->NextEntryOffset;
        }
    }
}

DWORD removeEntry(Removal& removal, const ListedEntry& listed, unsigned depth, bool enter) {
    const bool plainDirectory = (listed.attributes & kindBits) == FILE_ATTRIBUTE_DIRECTORY;
    HANDLE entry = openEntry(removal, plainDirectory);
    if (entry == INVALID_HANDLE_VALUE) return failure(removal, lastErrorOr(ERROR_GEN_FAILURE));
    BY_HANDLE_FILE_INFORMATION info;
    DWORD code = checkEntry(removal, entry, listed, info);
    // Shown, the troubles of what is inside were shown and passed over; the
    // directory's own removal then fails and is shown too.
    bool started = false;
    if (code == 0 && plainDirectory && enter)
        code = depth >= nestingLimit ? ERROR_FILENAME_EXCED_RANGE
                                     : emptyThrough(removal, entry, depth + 1, started);
    if (code == 0) code = deleteThrough(entry, info);
    CloseHandle(entry);
    return code != 0 ? failure(removal, code) : 0;
}