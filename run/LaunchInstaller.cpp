#include "run/LaunchInstaller.h"

#include <windows.h>

#include "core/FixedNames.h"
#include "core/SetupState.h"
#include "core/SystemError.h"
#include "core/Text.h"
#include "core/UserTexts.h"
#include "run/ProgramStart.h"

int32_t launchInstaller(SetupState& state) {
    if (state.stopSetup) return 0;
    if (state.uninstallOnly) return 0;

    char installerPath[textCapacity];
    // A cut path names some other file, or a folder's prefix: never start that.
    if (!composeText(installerPath, sizeof installerPath, state.setupDirectory, installerName))
        return reportSystemError(ERROR_FILENAME_EXCED_RANGE);

    // No command line: the installer gets its own path as its command line. The
    // current directory stays the launcher's. Where it needs administrator rights
    // (its manifest says so, or Windows takes it for an installer by its name),
    // Windows asks the user for consent first.
    const DWORD code = startDetached(installerPath);
    if (code == ERROR_CANCELLED) {
        reportFailure(textConsentRefused);
        return static_cast<int32_t>(code);
    }
    if (code != 0) return reportSystemError(code);
    return 0;
}
