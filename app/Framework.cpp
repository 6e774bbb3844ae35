#include "app/Framework.h"

#include <commctrl.h>

#include "core/Module.h"

namespace {

// Loaded at run time so that the exe imports only DLLs that Windows always takes
// from System32.
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);

}  // namespace

void restrictDllSearch() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Without it, at least take the current directory out of the search.
    SetDllDirectoryA("");
}

void initCommonControls() {
    HMODULE library = loadSystemLibrary("comctl32.dll");
    if (library == nullptr) return;
    auto init = reinterpret_cast<InitCommonControlsExFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "InitCommonControlsEx")));
    if (init == nullptr) return;
    INITCOMMONCONTROLSEX controls;
    static_assert(sizeof controls == 8 && ICC_WIN95_CLASSES == 0xFF, "the Windows 95 classes");
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;  // the progress bar among them
    init(&controls);
}

void initRichEdit() { loadSystemLibrary("riched20.dll"); }
