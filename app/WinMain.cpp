// Process entry: the launcher reads no command line and has no message loop.
#include <windows.h>

#include <float.h>

#include "app/Framework.h"
#include "app/SetupApp.h"
#include "app/SingleInstance.h"
#include "core/Module.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    restrictDllSearch();
    // Versions are compared in double precision (versionTimes100 depends on it).
    _controlfp(_PC_53, _MCW_PC);
    setAppInstance(instance);
    if (!claimSingleInstance()) return 0;
    theApplication().InitInstance();
    return 0;  // the same on every path: the run's outcome is not an exit status
}
