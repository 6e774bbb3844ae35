#include "run/MaintenanceRun.h"

#include <windows.h>

#include <cstring>

#include "core/AnsiPath.h"
#include "core/FixedNames.h"
#include "core/Pacing.h"
#include "core/SetupState.h"
#include "core/SystemError.h"
#include "core/SystemText.h"
#include "core/UserTexts.h"
#include "core/Version.h"
#include "run/CommandRules.h"
#include "run/ProgramStart.h"
#include "run/watch/RunWatch.h"
#include "run/staging/StagingDirectory.h"
#include "run/staging/StagingGuard.h"
#include "ui/ProgressDialog.h"

namespace {

// Whether the stage goes on after a step, and its status when it does not.
struct StepResult {
    bool goOn;
    int32_t status;
};

constexpr StepResult proceed = {true, 0};

int32_t reportLastError() { return reportFailureCode(GetLastError()); }
// A cut path names some other file: never used, always reported.
int32_t reportCutPath() { return reportSystemError(ERROR_FILENAME_EXCED_RANGE); }

StepResult splitCommand(SetupState& state, char* arguments) {
    switch (splitUninstallCommand(state.uninstallCommand, sizeof state.uninstallCommand, arguments,
                                  textCapacity, systemLeadByte)) {
    case commandSplit:
        return proceed;
    case commandMayBeCut:
        return {false, reportCutPath()};
    default:
        // Unquoted, unclosed or relative: no program can be told apart safely.
        reportFailure(textUnusableUninstallCommand);
        return {false, ERROR_BAD_PATHNAME};
    }
}

// The folders of an upgrade: where it stages, and where the programs run from
// whose work the upgrade waits for.
struct UpgradeFolders {
    char temporary[textCapacity];  // the user's temporary directory, with its backslash
    char source[textCapacity];     // the installed copy's maintenance folder, with its backslash
    StagingDirectory staging;      // in the temporary directory, held from its creation
    bool elevated;                 // the launcher runs elevated, and so will the staged program
};

// The guard's failures are told in the launcher's own words: for want of memory,
// or as a staging that cannot be protected (with advice that fits the launcher).
int32_t reportUnguarded(const UpgradeFolders& folders, DWORD code) {
    if (code == ERROR_NOT_ENOUGH_MEMORY)
        reportFailure(textUpgradeOutOfMemory);
    else
        reportFailure(folders.elevated ? textUnsafeElevatedUpgrade : textUnsafeUpgrade);
    return static_cast<int32_t>(code);
}

// A new staging directory, whatever an earlier run left under its name: that
// is removed, or moved aside, so that nothing put there before this run (by an
// earlier run, or planted ahead of time) is loaded or run by the staged
// program. A launcher that runs elevated runs the staged program elevated: the
// directory is born guarded, so that no program of the user ever holds a
// right on it or on a file copied into it.
StepResult makeStaging(UpgradeFolders& folders) {
    const DWORD temporary = ansiTempPath(folders.temporary, sizeof folders.temporary);
    if (temporary == noAnsiForm) {
        reportFailure(textTemporaryFolderUnusable);
        return {false, static_cast<int32_t>(temporary)};
    }
    if (temporary != 0) return {false, reportFailureCode(temporary)};
    char path[textCapacity];
    if (!composeText(path, sizeof path, folders.temporary, stagingDirectoryName))
        return {false, reportCutPath()};
    folders.elevated = launcherIsElevated();
    if (!folders.elevated) {
        const DWORD code = makeStagingDirectory(path, nullptr, folders.staging);
        return code == 0 ? proceed : StepResult{false, reportFailureCode(code)};
    }
    const DWORD code = createGuardedStaging(path, folders.staging);
    if (code == 0) return proceed;
    if (code == ERROR_NOT_SUPPORTED) return {false, reportUnguarded(folders, code)};
    return {false, reportFailureCode(code)};
}

// Every entry of the maintenance program's directory, subdirectories included
// (their copy fails and ends the stage).
StepResult stageMaintenanceFiles(const UpgradeFolders& folders) {
    bool listed = false;
    const DWORD code = copyIntoStaging(folders.source, folders.staging, listed);
    if (!listed && code == ERROR_PATH_NOT_FOUND) {
        reportFailure(textNoMaintenanceFiles);
        return {false, 0};
    }
    return code == 0 ? proceed : StepResult{false, reportFailureCode(code)};
}

StepResult stageResponseFile(const SetupState& state, const char* staging, char* arguments) {
    char from[textCapacity];
    char to[textCapacity];
    if (!composeText(from, sizeof from, state.setupDirectory, responseFileName) ||
        !composeText(to, sizeof to, staging, "\\", responseFileName))
        return {false, reportCutPath()};
    if (!CopyFileA(from, to, FALSE)) return {false, reportLastError()};
    // A read-only response file from the medium would survive the clean-up.
    if (!SetFileAttributesA(to, FILE_ATTRIBUTE_NORMAL)) return {false, reportLastError()};
    if (!appendSilentSwitches(arguments, textCapacity, to)) return {false, reportCutPath()};
    return proceed;
}

StepResult prepareUpgrade(SetupState& state, char* arguments, UpgradeFolders& folders) {
    StepResult result = makeStaging(folders);
    if (!result.goOn) return result;
    // A fully qualified program path always has one; kept as a guard.
    if (!directoryOf(folders.source, textCapacity, state.uninstallCommand, systemLeadByte)) {
        reportFailure(textUnusableUninstallCommand);
        return {false, ERROR_BAD_PATHNAME};
    }
    result = stageMaintenanceFiles(folders);
    if (!result.goOn) return result;
    if (versionTimes100(state.installedVersion) > highestUpgradableVersion) {
        reportFailure(textIllegalVersion);
        return {false, -1};
    }
    const char* staging = folders.staging.path;
    result = stageResponseFile(state, staging, arguments);
    if (!result.goOn) return result;
    if (!composeText(state.uninstallCommand, sizeof state.uninstallCommand, staging, "\\", installerName))
        return {false, reportCutPath()};
    return proceed;
}

// Guards the staging directory of a staged program that will run elevated
// (run/staging/StagingGuard.h): 0, or the code of a guard that could not be
// had, shown; the program is then not started.
int32_t guardElevatedRun(const SetupState& state, const UpgradeFolders& folders, StagingGuard& guard) {
    if (guard.folder != nullptr) return 0;
    char response[textCapacity];
    if (!composeText(response, sizeof response, state.setupDirectory, responseFileName))
        return reportCutPath();
    const DWORD code = guardStaging(folders.staging, folders.source, response, folders.elevated, guard);
    return code == 0 ? 0 : reportUnguarded(folders, code);
}

// Starts the maintenance program: 0, or the status of a start that did not
// happen, shown. A staged program runs elevated when the launcher does, or
// when Windows answers that it needs administrator rights (it then asks the
// user): its directory is guarded before it starts.
int32_t startMaintenanceProgram(SetupState& state, char* arguments, const UpgradeFolders* upgrade,
                                StagingGuard& guard, StartedProgram& started) {
    int32_t status = upgrade != nullptr && upgrade->elevated ? guardElevatedRun(state, *upgrade, guard) : 0;
    if (status != 0) return status;
    // The argument text alone is the command line, empty or not.
    DWORD code = startProgram(state.uninstallCommand, arguments, upgrade != nullptr, started);
    if (code == errorElevationRequired) {
        status = upgrade != nullptr ? guardElevatedRun(state, *upgrade, guard) : 0;
        if (status != 0) return status;
        code = startElevated(state.uninstallCommand, arguments, started);
    }
    if (code == ERROR_CANCELLED) {
        reportFailure(textConsentRefused);
        return static_cast<int32_t>(code);
    }
    return code != 0 ? reportFailureCode(code) : 0;
}

// Starts the program and waits for it under the progress dialog. An upgrade
// waits for the whole run, the processes that carry on its work included (those
// started from the temporary directory, where the staged program and an
// uninstaller's copy of itself run, or from the installed copy's maintenance
// folder): the new installer must not start while an uninstaller's copy is still
// removing the old version. An uninstall waits for its program alone. Neither
// waits for a program started from elsewhere (a browser showing a survey).
int32_t runAndWatch(SetupState& state, char* arguments, const UpgradeFolders* upgrade) {
    StagingGuard guard;
    std::memset(&guard, 0, sizeof guard);
    StartedProgram started;
    int32_t result = startMaintenanceProgram(state, arguments, upgrade, guard, started);
    if (result != 0) {
        // Nothing runs from the directory: it is left as after any failed start.
        releaseStagingGuard(guard);
        return result;
    }
    if (started.process == nullptr) {
        // Windows started the program (through the shell) but gave no handle:
        // it may be running from the directory, which keeps its guard.
        leaveStagingGuarded(guard);
        reportFailure(textStartNotFollowed);
        return ERROR_INVALID_HANDLE;
    }
    if (upgrade == nullptr) {
        result = monitorProcess(started.process, nullptr, state.productName);
    } else {
        const char* const workFolders[] = {upgrade->temporary, upgrade->source};
        RunWatch watch;
        beginRunWatch(watch, started, workFolders, 2);
        const RunEndTest runEnd = {runWatchOver, &watch};
        result = monitorProcess(started.process, &runEnd, state.productName);
        endRunWatch(watch);
    }
    releaseProgram(started);
    // Once the user stopped waiting, the elevated program may run on: its
    // directory keeps the guard's descriptors.
    if (result == 0)
        releaseStagingGuard(guard);
    else
        leaveStagingGuarded(guard);
    return result;
}

}  // namespace

int32_t runMaintenance(SetupState& state) {
    if (state.stopSetup || !state.runInstalledSetup) return 0;

    char arguments[textCapacity] = {};
    StepResult step = splitCommand(state, arguments);
    if (!step.goOn) return step.status;

    if (!state.upgradeMode) return runAndWatch(state, arguments, nullptr);

    UpgradeFolders folders = {};
    step = prepareUpgrade(state, arguments, folders);
    const int32_t result = step.goOn ? runAndWatch(state, arguments, &folders) : step.status;
    if (step.goOn && result == 0) return cleanUpStaging(folders.staging);
    // Stopped early: the directory stays as it is, and is let go of.
    letGoOfStaging(folders.staging);
    return result;
}
