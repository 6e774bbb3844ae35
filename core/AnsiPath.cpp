#include "core/AnsiPath.h"

#include "core/SetupState.h"
#include "core/SystemError.h"

namespace {

// Written only by tests, while no path is being written.
ShortPathCall shortPathCall = nullptr;
TempPathCall tempPath2Call = nullptr;

// True when the code page writes path exactly (no character replaced, none
// taken to a look-alike) and it fits; failed holds the code of a call that
// failed for another reason (0 when none did).
bool writesExactly(const wchar_t* path, char* destination, size_t capacity, DWORD& failed) {
    failed = 0;
    const int room = static_cast<int>(capacity);
    // A system whose ANSI code page is UTF-8 writes every valid text; the
    // replacement flags and the used-default flag are refused for UTF-8.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* replaced = utf8 ? nullptr : &usedDefault;
    SetLastError(0);
    const int written = WideCharToMultiByte(CP_ACP, flags, path, -1, destination, room, nullptr, replaced);
    if (written > 0) return !usedDefault;
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        // Too long in this form; a form the code page cannot write may still
        // have a short one that fits.
        WideCharToMultiByte(CP_ACP, flags, path, -1, nullptr, 0, nullptr, replaced);
        if (!usedDefault) failed = ERROR_FILENAME_EXCED_RANGE;
    } else if (GetLastError() != ERROR_NO_UNICODE_TRANSLATION) {
        failed = lastErrorOr(ERROR_GEN_FAILURE);
    }
    return false;
}

DWORD fail(char* destination, DWORD code) {
    destination[0] = '\0';
    return code;
}

}  // namespace

void setShortPathCall(ShortPathCall call) { shortPathCall = call; }

DWORD writeAnsiPath(const wchar_t* path, char* destination, size_t capacity) {
    if (capacity == 0) return ERROR_FILENAME_EXCED_RANGE;
    DWORD failed = 0;
    if (writesExactly(path, destination, capacity, failed)) return 0;
    // A long form that fits nowhere is refused as today; only a name the code
    // page cannot write is worth its short form.
    if (failed != 0) return fail(destination, failed);
    auto shortPath = shortPathCall != nullptr ? shortPathCall : GetShortPathNameW;
    wchar_t shortForm[textCapacity];
    SetLastError(0);
    const DWORD length = shortPath(path, shortForm, textCapacity);
    if (length == 0) return fail(destination, lastErrorOr(ERROR_GEN_FAILURE));
    if (length >= textCapacity) return fail(destination, ERROR_FILENAME_EXCED_RANGE);
    // Where short names are off, the name comes back in its long form, which the
    // code page still cannot write.
    if (writesExactly(shortForm, destination, capacity, failed)) return 0;
    return fail(destination, failed != 0 ? failed : noAnsiForm);
}

DWORD ansiModulePath(HMODULE module, char* destination, size_t capacity) {
    wchar_t path[textCapacity];
    SetLastError(0);
    const DWORD length = GetModuleFileNameW(module, path, textCapacity);
    if (length == 0) return fail(destination, lastErrorOr(ERROR_MOD_NOT_FOUND));
    // As large as the buffer: the path was cut, and a cut path names another file.
    if (length >= textCapacity) return fail(destination, ERROR_FILENAME_EXCED_RANGE);
    return writeAnsiPath(path, destination, capacity);
}

namespace {

// GetTempPath2W where Windows has it (from build 20348; Windows 10 1607 and
// later, and Server 2016, only with the updates of March 2025 on, KB5053594):
// for SYSTEM it gives C:\Windows\SystemTemp, "which is inaccessible to
// non-SYSTEM processes", where GetTempPathW gives C:\Windows\Temp, in which
// every user may create folders. For any other account the two agree. Looked
// up at run time, since older systems lack it.
TempPathCall tempPathCall() {
    if (tempPath2Call != nullptr) return tempPath2Call;
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC found = kernel != nullptr ? GetProcAddress(kernel, "GetTempPath2W") : nullptr;
    return found != nullptr ? reinterpret_cast<TempPathCall>(reinterpret_cast<void*>(found)) : GetTempPathW;
}

}  // namespace

void setTempPath2Call(TempPathCall call) { tempPath2Call = call; }

DWORD ansiTempPath(char* destination, size_t capacity) {
    wchar_t path[textCapacity];
    SetLastError(0);
    const DWORD length = tempPathCall()(textCapacity, path);
    if (length == 0) return fail(destination, lastErrorOr(ERROR_GEN_FAILURE));
    if (length >= textCapacity) return fail(destination, ERROR_FILENAME_EXCED_RANGE);
    return writeAnsiPath(path, destination, capacity);
}
