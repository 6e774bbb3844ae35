#include "run/MaintenanceRun.h"

#include <windows.h>

#include <cstring>

#include "core/FixedNames.h"
#include "core/Pacing.h"
#include "core/SetupState.h"
#include "core/SystemError.h"
#include "core/SystemText.h"
#include "core/UserTexts.h"
#include "core/Version.h"
#include "run/CommandRules.h"
#include "run/ProgramStart.h"
#include "run/RunWatch.h"
#include "ui/ProgressDialog.h"

namespace {

// Whether the stage goes on after a step, and its status when it does not.
struct StepResult {
    bool goOn;
    int32_t status;
};

constexpr StepResult proceed = {true, 0};

// A failure whose code the system did not set must still end the chain.
int32_t reportCode(DWORD code) { return reportSystemError(code != 0 ? code : ERROR_GEN_FAILURE); }
int32_t reportLastError() { return reportCode(GetLastError()); }
// A cut path names some other file: never used, always reported.
int32_t reportCutPath() { return reportSystemError(ERROR_FILENAME_EXCED_RANGE); }

bool isDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

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

DWORD lastErrorOr(DWORD fallback) {
    DWORD code = GetLastError();
    return code != 0 ? code : fallback;
}

// CopyFileA keeps a read-only attribute, and DeleteFileA refuses such a file.
// A link keeps its attributes: they might be those of the folder it points at.
void makeDeletable(const char* path, DWORD attributes) {
    const DWORD inTheWay = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && (attributes & inTheWay) != 0)
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
}

DWORD removeStagingEntry(const char* path, DWORD attributes);

// Each listing below is opened by its operation, walked by a helper that
// returns a status, and closed on the one path back.

// Removes the listed entries; 0 or the code of the first one that could not be
// removed (the rest is then left as it is).
DWORD removeListedEntries(HANDLE search, WIN32_FIND_DATAA& entry, const char* directory) {
    DWORD status = 0;
    do {
        if (isDotEntry(entry.cFileName)) continue;
        char path[textCapacity];
        // A name that does not fit cannot be removed, and must not be left there.
        if (!composeText(path, sizeof path, directory, "\\", entry.cFileName))
            status = ERROR_FILENAME_EXCED_RANGE;
        else
            status = removeStagingEntry(path, entry.dwFileAttributes);
    } while (status == 0 && FindNextFileA(search, &entry));
    if (status == 0) {
        DWORD code = GetLastError();
        if (code != ERROR_NO_MORE_FILES) status = code != 0 ? code : ERROR_GEN_FAILURE;
    }
    return status;
}

// Removes everything inside the directory.
DWORD emptyDirectory(const char* directory) {
    char pattern[textCapacity];
    if (!composeText(pattern, sizeof pattern, directory, "\\", "*.*")) return ERROR_FILENAME_EXCED_RANGE;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return lastErrorOr(ERROR_GEN_FAILURE);
    const DWORD status = removeListedEntries(search, entry, directory);
    FindClose(search);
    return status;
}

// A junction or symbolic link is removed itself and never followed: emptying the
// staging directory must not reach into the folder a link points at.
DWORD removeStagingEntry(const char* path, DWORD attributes) {
    bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    makeDeletable(path, attributes);
    if (directory && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        DWORD status = emptyDirectory(path);
        if (status != 0) return status;
    }
    BOOL removed = directory ? RemoveDirectoryA(path) : DeleteFileA(path);
    return removed ? 0 : lastErrorOr(ERROR_GEN_FAILURE);
}

// The staging directory's name is fixed and %TEMP% is writable by every program
// of the user, so a folder of that name may already hold anything: files of an
// earlier run, or DLLs and programs put there ahead of time to be loaded or run
// by the elevated installer. Everything in it is removed before staging (links
// are removed, never followed), and what cannot be removed stops the stage
// before anything is copied or run. This covers only what is there when the
// clean-up runs: the folder stays writable by every program of the user, so one
// that writes into it after the clean-up, while the files are copied, before the
// staged program starts or while it runs, is not kept out (docs/SECURITY.md,
// "The staging race").
StepResult clearStagingDirectory(const char* staging) {
    DWORD attributes = GetFileAttributesA(staging);
    DWORD status = 0;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return proceed;
        status = code != 0 ? code : ERROR_GEN_FAILURE;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
               (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A file or a link in the directory's place.
        status = removeStagingEntry(staging, attributes);
    } else {
        status = emptyDirectory(staging);
    }
    if (status != 0) return {false, reportCode(status)};
    return proceed;
}

// The folders of an upgrade: where it stages, and where the programs run from
// whose work the upgrade waits for.
struct UpgradeFolders {
    char temporary[textCapacity];  // the user's temporary directory, with its backslash
    char staging[textCapacity];    // in it
    char source[textCapacity];     // the installed copy's maintenance folder, with its backslash
};

StepResult makeStagingDirectory(UpgradeFolders& folders) {
    DWORD length = GetTempPathA(sizeof folders.temporary, folders.temporary);
    if (length == 0) return {false, reportLastError()};
    if (length >= sizeof folders.temporary) return {false, reportCutPath()};
    char* staging = folders.staging;
    if (!composeText(staging, textCapacity, folders.temporary, stagingDirectoryName))
        return {false, reportCutPath()};
    // Left from an earlier run, the directory keeps its name but not its contents.
    StepResult cleared = clearStagingDirectory(staging);
    if (!cleared.goOn) return cleared;
    CreateDirectoryA(staging, nullptr);
    return proceed;
}

// Copies the listed entries; 0 or the status of the first failure, reported.
int32_t copyListedEntries(HANDLE search, WIN32_FIND_DATAA& entry, const char* source, const char* staging) {
    int32_t status = 0;
    do {
        if (isDotEntry(entry.cFileName)) continue;
        char from[textCapacity];
        char to[textCapacity];
        if (!composeText(from, sizeof from, source, entry.cFileName) ||
            !composeText(to, sizeof to, staging, "\\", entry.cFileName)) {
            status = reportCutPath();
            break;
        }
        if (!CopyFileA(from, to, FALSE)) {
            status = reportLastError();
            break;
        }
    } while (FindNextFileA(search, &entry));
    if (status == 0) {
        DWORD code = GetLastError();
        if (code != ERROR_NO_MORE_FILES) status = reportCode(code);
    }
    return status;
}

// Every entry of the maintenance program's directory, subdirectories included
// (their copy fails and ends the stage).
StepResult stageMaintenanceFiles(const char* source, const char* staging) {
    char pattern[textCapacity];
    if (!composeText(pattern, sizeof pattern, source, "*.*")) return {false, reportCutPath()};
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) {
        reportFailure(textNoMaintenanceFiles);
        return {false, 0};
    }
    const int32_t status = copyListedEntries(search, entry, source, staging);
    FindClose(search);
    return {status == 0, status};
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
    StepResult result = makeStagingDirectory(folders);
    if (!result.goOn) return result;
    const char* staging = folders.staging;
    // A fully qualified program path always has one; kept as a guard.
    if (!directoryOf(folders.source, textCapacity, state.uninstallCommand, systemLeadByte)) {
        reportFailure(textUnusableUninstallCommand);
        return {false, ERROR_BAD_PATHNAME};
    }
    result = stageMaintenanceFiles(folders.source, staging);
    if (!result.goOn) return result;
    if (versionTimes100(state.installedVersion) > highestUpgradableVersion) {
        reportFailure(textIllegalVersion);
        return {false, -1};
    }
    result = stageResponseFile(state, staging, arguments);
    if (!result.goOn) return result;
    if (!composeText(state.uninstallCommand, sizeof state.uninstallCommand, staging, "\\", installerName))
        return {false, reportCutPath()};
    return proceed;
}

// Starts the program and waits for it under the progress dialog. An upgrade
// waits for the whole run, the processes that carry on its work included (those
// started from the temporary directory, where the staged program and an
// uninstaller's copy of itself run, or from the installed copy's maintenance
// folder): the new installer must not start while an uninstaller's copy is still
// removing the old version. An uninstall waits for its program alone. Neither
// waits for a program started from elsewhere (a browser showing a survey).
int32_t runAndWatch(SetupState& state, char* arguments, const UpgradeFolders* upgrade) {
    StartedProgram started;
    // The argument text alone is the command line, empty or not.
    DWORD code = startProgram(state.uninstallCommand, arguments, upgrade != nullptr, started);
    if (code != 0) return reportCode(code);
    int32_t result;
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
    return result;
}

// Deletes the listed files. Deletion troubles are shown and passed over; only a
// broken listing ends it: 0, or that listing's code, reported once it is closed.
DWORD deleteListedFiles(HANDLE search, WIN32_FIND_DATAA& entry, const char* staging) {
    do {
        if (isDotEntry(entry.cFileName)) continue;
        char path[textCapacity];
        if (!composeText(path, sizeof path, staging, "\\", entry.cFileName)) {
            reportCutPath();
            continue;
        }
        makeDeletable(path, entry.dwFileAttributes);
        if (!DeleteFileA(path)) reportLastError();
    } while (FindNextFileA(search, &entry));
    const DWORD code = GetLastError();
    if (code == ERROR_NO_MORE_FILES) return 0;
    return code != 0 ? code : ERROR_GEN_FAILURE;
}

int32_t cleanUpStaging(const char* staging) {
    Sleep(cleanupPauseMs);
    char pattern[textCapacity];
    if (!composeText(pattern, sizeof pattern, staging, "\\", "*.*")) return reportCutPath();
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) {
        reportFailure(textNoStagedFiles);
    } else {
        const DWORD code = deleteListedFiles(search, entry, staging);
        FindClose(search);
        if (code != 0) return reportCode(code);
    }
    if (!RemoveDirectoryA(staging)) reportLastError();
    return 0;
}

}  // namespace

int32_t runMaintenance(SetupState& state) {
    if (state.stopSetup || !state.runInstalledSetup) return 0;

    char arguments[textCapacity] = {};
    StepResult step = splitCommand(state, arguments);
    if (!step.goOn) return step.status;

    UpgradeFolders folders = {};
    if (state.upgradeMode) {
        step = prepareUpgrade(state, arguments, folders);
        if (!step.goOn) return step.status;
    }

    int32_t result = runAndWatch(state, arguments, state.upgradeMode ? &folders : nullptr);
    if (result != 0) return result;
    if (!state.upgradeMode) return 0;
    return cleanUpStaging(folders.staging);
}
