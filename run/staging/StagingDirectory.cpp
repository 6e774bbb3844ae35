#include "run/staging/StagingDirectory.h"

#include "run/staging/EntryRemoval.h"

#include <winternl.h>

#include <cstring>
#include <initializer_list>

#include "core/Pacing.h"
#include "core/SystemError.h"
#include "core/Text.h"
#include "core/UserTexts.h"

namespace {

// Written only by tests, while no staging directory is made or removed.
StagingDirectoryCalls testCalls = {};

// The extended form of a full path in the code page ("\\?\C:\...", for a share
// "\\?\UNC\server\share\..."); prefix is "\\?\" for the Windows calls, "\??\"
// for NtCreateFile. The length written, 0 when it does not fit.
size_t extendedPath(const char* path, const wchar_t* prefix, wchar_t* out, size_t capacity) {
    const bool share = path[0] == '\\' && path[1] == '\\';
    size_t length = 0;
    for (const wchar_t* part : {prefix, share ? L"UNC" : L""})
        for (; *part != L'\0' && length + 1 < capacity; ++part) out[length++] = *part;
    const int room = static_cast<int>(capacity - length);
    const int written =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, share ? path + 1 : path, -1, out + length, room);
    return written > 0 ? length + static_cast<size_t>(written) - 1 : 0;
}

struct WidePath {
    wchar_t* text;
    size_t length;
};

DWORD allocatePath(WidePath& path, const char* ansi) {
    path.text = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, widePathCapacity * sizeof(wchar_t)));
    if (path.text == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    path.length = extendedPath(ansi, L"\\\\?\\", path.text, widePathCapacity);
    return path.length != 0 ? 0 : ERROR_FILENAME_EXCED_RANGE;
}

void freePath(WidePath& path) {
    if (path.text != nullptr) LocalFree(path.text);
    path.text = nullptr;
}

// A leftover that cannot be removed (held open; guarded by an earlier elevated
// run whose end the user did not wait for, which the user may still rename,
// holding the right to delete children in the temporary directory; a link Wine
// cannot remove) gives up its name: it is moved to a new name beside it. A
// rename moves a link itself, never what it points at.
DWORD moveAside(const wchar_t* path, size_t length) {
    wchar_t aside[textCapacity + 32];
    if (length + 16 >= sizeof aside / sizeof aside[0]) return ERROR_FILENAME_EXCED_RANGE;
    const unsigned long seed = GetTickCount() ^ (GetCurrentProcessId() << 12);
    DWORD code = ERROR_ALREADY_EXISTS;
    for (unsigned long attempt = 0; attempt < 16 && code == ERROR_ALREADY_EXISTS; ++attempt) {
        std::memcpy(aside, path, length * sizeof(wchar_t));
        std::memcpy(aside + length, L".old-", 5 * sizeof(wchar_t));
        for (unsigned digit = 0; digit < 8; ++digit)
            aside[length + 5 + digit] = L"0123456789abcdef"[((seed + attempt) >> (28 - 4 * digit)) & 0xf];
        aside[length + 13] = L'\0';
        if (MoveFileExW(path, aside, 0)) return 0;
        code = lastErrorOr(ERROR_GEN_FAILURE);
        if (code == ERROR_FILE_EXISTS) code = ERROR_ALREADY_EXISTS;
    }
    return code;
}

// Whatever stands at the staging directory's name is removed, or moved aside.
DWORD clearTheWay(const char* path) {
    WidePath wide = {};
    DWORD code = allocatePath(wide, path);
    WIN32_FIND_DATAW found;
    HANDLE search = code == 0 ? FindFirstFileW(wide.text, &found) : INVALID_HANDLE_VALUE;
    if (code == 0 && search == INVALID_HANDLE_VALUE) {
        code = lastErrorOr(ERROR_GEN_FAILURE);
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) code = 0;
    } else if (code == 0) {
        FindClose(search);
        Removal removal = {wide.text, wide.length, 0, false, false, testCalls.openEntry};
        if (removeEntry(removal, {found.dwFileAttributes, 0}, 0, true) != 0)
            code = moveAside(wide.text, wide.length);
    }
    freePath(wide);
    return code;
}

// Created and opened in one step, so that the launcher holds the directory
// from its first moment: with the rights to read and set its descriptor and to
// list it, without delete sharing. Not with delete access: a program whose
// current directory it becomes opens it without delete sharing, which a handle
// of ours with delete access would refuse. NtCreateFile (winternl.h) is looked
// up in ntdll, which every process has loaded: the launcher's imports stay as
// they are, and only an upgrade needs it.
DWORD createHeld(const char* path, PSECURITY_DESCRIPTOR descriptor, HANDLE& handle) {
    handle = nullptr;
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto create = testCalls.ntCreateFile;
    if (create == nullptr && ntdll != nullptr)
        create = reinterpret_cast<NtCreateFileCall>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")));
    using StatusToError = ULONG(NTAPI*)(NTSTATUS);
    auto toError = ntdll != nullptr ? reinterpret_cast<StatusToError>(reinterpret_cast<void*>(
                                          GetProcAddress(ntdll, "RtlNtStatusToDosError")))
                                    : nullptr;
    if (create == nullptr || toError == nullptr) return ERROR_PROC_NOT_FOUND;
    wchar_t name[textCapacity + 16];
    const size_t length = extendedPath(path, L"\\??\\", name, sizeof name / sizeof name[0]);
    if (length == 0) return ERROR_FILENAME_EXCED_RANGE;
    UNICODE_STRING text = {static_cast<USHORT>(length * sizeof(wchar_t)),
                           static_cast<USHORT>((length + 1) * sizeof(wchar_t)), name};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, nullptr, descriptor);
    IO_STATUS_BLOCK io;
    const ACCESS_MASK access =
        READ_CONTROL | WRITE_DAC | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    const NTSTATUS status = create(&handle, access, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                                   FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (NT_SUCCESS(status)) return 0;
    handle = nullptr;
    const ULONG code = toError(status);
    return code != 0 ? code : ERROR_GEN_FAILURE;
}

// The directory itself, at the end: no longer held (see createHeld), opened
// anew by its name, never through a link, and removed only when it is the
// directory made.
void removeStagingItself(StagingDirectory& directory, Removal& removal) {
    letGoOfStaging(directory);
    removeEntry(removal, {FILE_ATTRIBUTE_DIRECTORY, directory.fileId}, 0, false);
}

}  // namespace

bool isDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

void setStagingDirectoryCalls(const StagingDirectoryCalls* calls) {
    testCalls = calls != nullptr ? *calls : StagingDirectoryCalls{};
}

DWORD makeStagingDirectory(const char* path, PSECURITY_DESCRIPTOR descriptor, StagingDirectory& directory) {
    std::memset(&directory, 0, sizeof directory);
    if (!composeText(directory.path, sizeof directory.path, path)) return ERROR_FILENAME_EXCED_RANGE;
    DWORD code = clearTheWay(path);
    if (code == 0) code = createHeld(path, descriptor, directory.handle);
    BY_HANDLE_FILE_INFORMATION info;
    if (code == 0 && !GetFileInformationByHandle(directory.handle, &info))
        code = lastErrorOr(ERROR_GEN_FAILURE);
    if (code != 0) {
        letGoOfStaging(directory);
        return code;
    }
    directory.volume = info.dwVolumeSerialNumber;
    directory.fileId = fileIdOf(info);
    return 0;
}

DWORD copyIntoStaging(const char* sourceFolder, const StagingDirectory& directory, bool& sourceListed) {
    auto copy = testCalls.copyFile != nullptr ? testCalls.copyFile : CopyFileA;
    char pattern[textCapacity];
    sourceListed = false;
    if (!composeText(pattern, sizeof pattern, sourceFolder, "*.*")) return ERROR_FILENAME_EXCED_RANGE;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return ERROR_PATH_NOT_FOUND;
    sourceListed = true;
    DWORD status = 0;
    do {
        if (isDotEntry(entry.cFileName)) continue;
        char from[textCapacity];
        char to[textCapacity];
        if (!composeText(from, sizeof from, sourceFolder, entry.cFileName) ||
            !composeText(to, sizeof to, directory.path, "\\", entry.cFileName))
            status = ERROR_FILENAME_EXCED_RANGE;
        else if (!copy(from, to, FALSE))
            status = lastErrorOr(ERROR_GEN_FAILURE);
    } while (status == 0 && FindNextFileA(search, &entry));
    if (status == 0 && GetLastError() != ERROR_NO_MORE_FILES) status = lastErrorOr(ERROR_GEN_FAILURE);
    FindClose(search);
    return status;
}

int32_t cleanUpStaging(StagingDirectory& directory) {
    Sleep(cleanupPauseMs);
    WidePath wide = {};
    const DWORD code = allocatePath(wide, directory.path);
    if (code != 0) {
        freePath(wide);
        letGoOfStaging(directory);
        return reportSystemError(code);
    }
    Removal removal = {wide.text, wide.length, directory.volume, true, true, testCalls.openEntry};
    bool started = false;
    const DWORD broken = emptyThrough(removal, directory.handle, 1, started);
    int32_t status = 0;
    if (!started) {
        reportFailure(textNoStagedFiles);
    } else if (broken != 0) {
        // The directory is not removed while a listing of it broke off.
        status = reportFailureCode(broken);
        letGoOfStaging(directory);
    }
    if (status == 0) removeStagingItself(directory, removal);
    freePath(wide);
    return status;
}

void letGoOfStaging(StagingDirectory& directory) {
    if (directory.handle != nullptr) CloseHandle(directory.handle);
    directory.handle = nullptr;
}
