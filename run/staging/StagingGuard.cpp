#include "run/staging/StagingGuard.h"

#include <cstring>

#include "core/FixedNames.h"
#include "core/SetupState.h"
#include "core/SystemError.h"
#include "core/Text.h"
#include "run/staging/GuardDescriptor.h"

namespace {

// Written only by tests, while no guard is being taken or let go.
StagingGuardCalls testCalls = {};

BOOL setDescriptor(HANDLE object, PSECURITY_DESCRIPTOR descriptor) {
    auto set = testCalls.setKernelObjectSecurity != nullptr ? testCalls.setKernelObjectSecurity
                                                            : SetKernelObjectSecurity;
    return set(object, DACL_SECURITY_INFORMATION, descriptor);
}

HLOCAL allocate(SIZE_T size) {
    auto alloc = testCalls.localAlloc != nullptr ? testCalls.localAlloc : LocalAlloc;
    return alloc(LMEM_FIXED, size);
}

// The object's descriptor (its DACL), in memory of its own for LocalFree.
DWORD readDescriptor(HANDLE object, PSECURITY_DESCRIPTOR& copy) {
    DWORD needed = 0;
    GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    if (needed == 0) return lastErrorOr(ERROR_GEN_FAILURE);
    copy = allocate(needed);
    if (copy == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    if (GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, copy, needed, &needed)) return 0;
    DWORD code = lastErrorOr(ERROR_GEN_FAILURE);
    copy = LocalFree(copy);
    return code;
}

// A file system without descriptors (FAT, exFAT) takes a new one without a
// word and keeps nothing; its volume says so beforehand: FILE_PERSISTENT_ACLS,
// "The specified volume preserves and enforces access control lists", is
// missing. Asked of the directory: the staged files lie on its volume.
DWORD volumeKeepsDescriptors(HANDLE folder) {
    auto query = testCalls.getVolumeInformation != nullptr ? testCalls.getVolumeInformation
                                                           : GetVolumeInformationByHandleW;
    DWORD flags = 0;
    if (!query(folder, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) return ERROR_NOT_SUPPORTED;
    return (flags & FILE_PERSISTENT_ACLS) != 0 ? 0 : ERROR_NOT_SUPPORTED;
}

// Gives a held object the guard's descriptor; saved keeps the one it had.
DWORD lockObject(HANDLE object, LockedDescriptor& locked, PSECURITY_DESCRIPTOR& saved) {
    DWORD code = readDescriptor(object, saved);
    if (code != 0) return code;
    return setDescriptor(object, &locked.descriptor) ? 0 : lastErrorOr(ERROR_ACCESS_DENIED);
}

// A plain directory or file, as staged: no link of any kind, one name only.
DWORD checkPlain(HANDLE object, bool directory) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(object, &info)) return lastErrorOr(ERROR_GEN_FAILURE);
    const bool isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isDirectory != directory || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return ERROR_INVALID_DATA;
    return directory || info.nNumberOfLinks == 1 ? 0 : ERROR_INVALID_DATA;
}

// Files of different lengths part where one read comes up shorter.
bool sameBytes(HANDLE first, HANDLE second) {
    char firstBytes[4096];
    char secondBytes[4096];
    for (;;) {
        DWORD firstRead = 0;
        DWORD secondRead = 0;
        if (!ReadFile(first, firstBytes, sizeof firstBytes, &firstRead, nullptr) ||
            !ReadFile(second, secondBytes, sizeof secondBytes, &secondRead, nullptr) ||
            firstRead != secondRead)
            return false;
        if (firstRead == 0) return true;
        if (std::memcmp(firstBytes, secondBytes, firstRead) != 0) return false;
    }
}

// A staged file that has no source of its name was added by someone else.
DWORD compareWithSource(HANDLE staged, const char* name, const char* sourceFolder,
                        const char* responseSource) {
    const bool response = lstrcmpiA(name, responseFileName) == 0;
    char path[textCapacity];
    if (!composeText(path, sizeof path, response ? responseSource : sourceFolder, response ? "" : name))
        return ERROR_FILENAME_EXCED_RANGE;
    HANDLE source = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (source == INVALID_HANDLE_VALUE) {
        DWORD code = lastErrorOr(ERROR_GEN_FAILURE);
        return code == ERROR_FILE_NOT_FOUND ? ERROR_INVALID_DATA : code;
    }
    DWORD status = sameBytes(staged, source) ? 0 : ERROR_INVALID_DATA;
    CloseHandle(source);
    return status;
}

// Calls visit for each entry of a listing but "." and "..", until one fails:
// 0, or the status of the visit or of the listing that failed.
using EntryVisit = DWORD (*)(const WIN32_FIND_DATAA& entry, void* context);
DWORD visitEntries(const char* folder, const char* pattern, EntryVisit visit, void* context) {
    char path[textCapacity];
    if (!composeText(path, sizeof path, folder, pattern)) return ERROR_FILENAME_EXCED_RANGE;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(path, &entry);
    if (search == INVALID_HANDLE_VALUE) return lastErrorOr(ERROR_GEN_FAILURE);
    DWORD status = 0;
    do {
        if (!isDotEntry(entry.cFileName)) status = visit(entry, context);
    } while (status == 0 && FindNextFileA(search, &entry));
    if (status == 0 && GetLastError() != ERROR_NO_MORE_FILES) status = lastErrorOr(ERROR_GEN_FAILURE);
    FindClose(search);
    return status;
}

struct FileCheck {
    const char* staging;
    const char* sourceFolder;
    const char* responseSource;
    LockedDescriptor* locked;
    StagingGuard* guard;
};

// Room for one more held file: the table doubles when it is full.
DWORD roomForOneMore(StagingGuard& guard) {
    if (guard.fileCount < guard.fileCapacity) return 0;
    if (guard.fileCapacity > 0x10000000u / sizeof(GuardedFile)) return ERROR_NOT_ENOUGH_MEMORY;
    const unsigned capacity = guard.fileCapacity == 0 ? 16 : guard.fileCapacity * 2;
    auto* files = static_cast<GuardedFile*>(allocate(capacity * sizeof(GuardedFile)));
    if (files == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    if (guard.fileCount > 0) std::memcpy(files, guard.files, guard.fileCount * sizeof(GuardedFile));
    if (guard.files != nullptr) LocalFree(guard.files);
    guard.files = files;
    guard.fileCapacity = capacity;
    return 0;
}

// Held without write or delete sharing, a staged file can be neither changed
// nor replaced nor removed, and the open fails with a sharing violation while
// anyone else holds it open for writing or deleting: a handle opened before
// the descriptor changed keeps its rights, and this refuses exactly those.
DWORD holdStagedFile(const WIN32_FIND_DATAA& entry, void* context) {
    const FileCheck& check = *static_cast<const FileCheck*>(context);
    StagingGuard& guard = *check.guard;
    if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return ERROR_INVALID_DATA;
    DWORD status = roomForOneMore(guard);
    if (status != 0) return status;
    char path[textCapacity];
    if (!composeText(path, sizeof path, check.staging, "\\", entry.cFileName))
        return ERROR_FILENAME_EXCED_RANGE;
    HANDLE file = CreateFileA(path, GENERIC_READ | WRITE_DAC, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return lastErrorOr(ERROR_GEN_FAILURE);
    GuardedFile& held = guard.files[guard.fileCount++];
    held = {file, nullptr};
    status = checkPlain(file, false);
    // Its own descriptor too: entries someone gave it while it was theirs stay
    // when only the directory's change, and would let them add a stream to it.
    if (status == 0) status = lockObject(file, *check.locked, held.descriptor);
    if (status == 0)
        status = compareWithSource(file, entry.cFileName, check.sourceFolder, check.responseSource);
    return status;
}

// What was staged: every entry of the source folder but one named as the
// response file, which the medium's replaced; and the response file.
DWORD countSource(const WIN32_FIND_DATAA& entry, void* context) {
    if (lstrcmpiA(entry.cFileName, responseFileName) != 0) ++*static_cast<unsigned*>(context);
    return 0;
}

DWORD takeStaging(const StagingDirectory& directory, const char* sourceFolder, const char* responseSource,
                  bool launcherElevated, StagingGuard& guard) {
    LockedDescriptor folderLock;
    LockedDescriptor fileLock;
    if (!buildLockedDescriptor(folderLock, true, !launcherElevated) ||
        !buildLockedDescriptor(fileLock, false, false))
        return lastErrorOr(ERROR_GEN_FAILURE);
    // Held since its creation, without delete sharing: it is the directory made.
    guard.folder = directory.handle;
    DWORD status = checkPlain(guard.folder, true);
    if (status == 0) status = volumeKeepsDescriptors(guard.folder);
    if (status == 0) status = lockObject(guard.folder, folderLock, guard.folderDescriptor);
    // Listed only once the directory is locked: nothing can be added after.
    FileCheck check = {directory.path, sourceFolder, responseSource, &fileLock, &guard};
    if (status == 0) status = visitEntries(directory.path, "\\*.*", holdStagedFile, &check);
    // Every file held is one that was staged; as many as were staged means
    // none is missing.
    unsigned fromSource = 0;
    if (status == 0) status = visitEntries(sourceFolder, "*.*", countSource, &fromSource);
    if (status == 0 && fromSource + 1 != guard.fileCount) status = ERROR_INVALID_DATA;
    return status;
}

void letGo(HANDLE object, PSECURITY_DESCRIPTOR saved, bool putBack) {
    if (saved != nullptr) {
        if (putBack) setDescriptor(object, saved);
        LocalFree(saved);
    }
}

void letGoOfAll(StagingGuard& guard, bool putBack) {
    for (unsigned i = 0; i < guard.fileCount; ++i) {
        letGo(guard.files[i].handle, guard.files[i].descriptor, putBack);
        CloseHandle(guard.files[i].handle);
    }
    if (guard.files != nullptr) LocalFree(guard.files);
    // The directory's handle is the staging directory's, which lets go of it.
    letGo(guard.folder, guard.folderDescriptor, putBack);
    std::memset(&guard, 0, sizeof guard);
}

}  // namespace

DWORD createGuardedStaging(const char* path, StagingDirectory& directory) {
    LockedDescriptor locked;
    if (!buildLockedDescriptor(locked, true, false)) return lastErrorOr(ERROR_GEN_FAILURE);
    DWORD status = makeStagingDirectory(path, &locked.descriptor, directory);
    // A volume that keeps no descriptors (FAT) created it without a word.
    if (status == 0) status = volumeKeepsDescriptors(directory.handle);
    if (status != 0) letGoOfStaging(directory);
    return status;
}

DWORD guardStaging(const StagingDirectory& directory, const char* sourceFolder, const char* responseSource,
                   bool launcherElevated, StagingGuard& guard) {
    std::memset(&guard, 0, sizeof guard);
    const DWORD status = takeStaging(directory, sourceFolder, responseSource, launcherElevated, guard);
    if (status != 0) releaseStagingGuard(guard);
    return status;
}

void releaseStagingGuard(StagingGuard& guard) { letGoOfAll(guard, true); }

void leaveStagingGuarded(StagingGuard& guard) { letGoOfAll(guard, false); }

bool launcherIsElevated() {
    auto query =
        testCalls.getTokenInformation != nullptr ? testCalls.getTokenInformation : GetTokenInformation;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return true;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool read = query(token, TokenElevation, &elevation, sizeof elevation, &size) != FALSE;
    CloseHandle(token);
    return !read || elevation.TokenIsElevated != 0;
}

void setStagingGuardCalls(const StagingGuardCalls* calls) {
    testCalls = calls != nullptr ? *calls : StagingGuardCalls{};
}
