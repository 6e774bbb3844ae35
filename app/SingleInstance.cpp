#include "app/SingleInstance.h"

#include <windows.h>

#include "ProductIdentity.h"

namespace {

// Per session: another user's launcher stages into another %TEMP%.
constexpr const char instanceMutexName[] = "Local\\KorvaneSetup-" KORVANE_STAGING_DIRECTORY;
// Holds the process id of the running launcher, so a second one can find its window.
constexpr const char instanceMappingName[] = "Local\\KorvaneSetup-owner-" KORVANE_STAGING_DIRECTORY;

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK findVisibleWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
    search->found = window;
    return FALSE;
}

void publishOwner() {
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(DWORD), instanceMappingName);
    if (mapping == nullptr) return;
    auto* owner = static_cast<DWORD*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(DWORD)));
    if (owner != nullptr) *owner = GetCurrentProcessId();
    // Mapping and view stay open for the life of the process, like the mutex.
}

void bringOwnerToFront() {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, instanceMappingName);
    if (mapping == nullptr) return;
    auto* owner = static_cast<const DWORD*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(DWORD)));
    if (owner != nullptr) {
        WindowSearch search = {*owner, nullptr};
        if (search.processId != 0) EnumWindows(findVisibleWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            if (IsIconic(search.found)) ShowWindow(search.found, SW_RESTORE);
            SetForegroundWindow(search.found);
        }
        UnmapViewOfFile(owner);
    }
    CloseHandle(mapping);
}

}  // namespace

bool claimSingleInstance() {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, instanceMutexName);
    if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        bringOwnerToFront();
        return false;
    }
    // Without a mutex (no rights to create it) the launcher still runs: refusing
    // to install would be worse than the rare double start.
    publishOwner();
    return true;
}
