#include "run/LaunchInstaller.h"

#include <windows.h>

#include <cstring>

#include "core/SetupState.h"
#include "core/SystemError.h"
#include "core/Text.h"
#include "core/Texts.h"

int32_t launchInstaller(SetupState& state) {
    if (state.stopSetup) return 0;
    if (state.uninstallOnly) return 0;

    char installerPath[textCapacity];
    copyBounded(installerPath, state.setupDirectory, sizeof installerPath);
    appendBounded(installerPath, sizeof installerPath, installerName);
    // A cut path names some other file, or a folder's prefix: never start that.
    if (std::strlen(state.setupDirectory) + std::strlen(installerName) >= sizeof installerPath)
        return reportSystemError(ERROR_FILENAME_EXCED_RANGE);

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    // No command line: the installer gets its own path as its command line. The
    // current directory stays the launcher's. The handles are left to the end of
    // the process, which follows at once.
    SetLastError(0);
    if (!CreateProcessA(installerPath, nullptr, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &process)) {
        // A failure without a code must still end the run as a failure, and not
        // be shown as "The operation completed successfully."
        const DWORD code = GetLastError();
        return reportSystemError(code != 0 ? code : ERROR_CAN_NOT_COMPLETE);
    }
    return 0;
}
