#include "run/watch/WorkFolders.h"

#include <cstring>

#include "run/watch/WatchRules.h"

namespace {

// UTF-16 is wchar_t on Windows; the rules spell it char16_t to build anywhere.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text");

LPWSTR asWide(char16_t* text) { return reinterpret_cast<LPWSTR>(text); }
LPCWSTR asWide(const char16_t* text) { return reinterpret_cast<LPCWSTR>(text); }

// Names compared as the file system compares them: the system's own case
// mapping, which folds every script, not only ASCII.
bool sameFileNames(const char16_t* a, const char16_t* b, size_t length) {
    const int count = static_cast<int>(length);
    return CompareStringOrdinal(asWide(a), count, asWide(b), count, TRUE) == CSTR_EQUAL;
}

// Opens a file or folder for its name alone: attributes only, so that no
// sharing mode stands in the way; a folder opens only with backup semantics.
HANDLE openForName(const wchar_t* path) {
    return CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Opens a file that the system named as it lies on disk, past WOW64's
// redirection of the system folder. Redirection is off for this thread during
// the one call alone (a DLL loaded meanwhile would be looked for in the wrong
// folder); where there is none to turn off (32-bit Windows) the call fails and
// the file is opened as it is.
HANDLE openAsOnDisk(const wchar_t* path) {
    PVOID redirection = nullptr;
    const bool redirectionOff = Wow64DisableWow64FsRedirection(&redirection) != FALSE;
    HANDLE file = openForName(path);
    if (redirectionOff) Wow64RevertWow64FsRedirection(redirection);
    return file;
}

// The final path of a file or folder just opened (the handle is closed here):
// junctions, symbolic links and subst drives resolved, short names made long.
// False when it cannot be had whole, or the file was not opened.
bool finalPathOf(HANDLE file, char16_t* finalPath, FinalPathQuery query) {
    if (file == INVALID_HANDLE_VALUE) return false;
    const DWORD length =
        query(file, asWide(finalPath), finalPathCapacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(file);
    return length > 0 && length < finalPathCapacity;
}

bool finalPathOfAnsi(const char* path, char16_t* finalPath, FinalPathQuery query) {
    wchar_t wide[finalPathCapacity];
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, finalPathCapacity) == 0)
        return false;
    return finalPathOf(openForName(wide), finalPath, query);
}

}  // namespace

void takeWorkFolders(WorkFolders& folders, const char* const* paths, unsigned count,
                     FinalPathQuery finalPath) {
    std::memset(&folders, 0, sizeof folders);
    for (unsigned i = 0; i < count && i < sizeof folders.finalPaths / sizeof folders.finalPaths[0]; ++i) {
        if (finalPathOfAnsi(paths[i], folders.finalPaths[folders.count], finalPath))
            ++folders.count;
        else
            folders.unknown = true;
    }
}

bool liesInWorkFolders(const WorkFolders& folders, HANDLE process, ImageNameQuery imageName,
                       FinalPathQuery finalPath) {
    if (folders.unknown) return true;
    // The path the program was started by (on Windows already through links and
    // subst drives; elsewhere as given), then its final form.
    wchar_t image[finalPathCapacity];
    DWORD size = finalPathCapacity;
    if (!imageName(process, 0, image, &size)) return true;
    char16_t program[finalPathCapacity];
    if (!finalPathOf(openAsOnDisk(image), program, finalPath)) return true;
    for (unsigned i = 0; i < folders.count; ++i)
        if (isInFolderTree(program, folders.finalPaths[i], sameFileNames)) return true;
    return false;
}
