// The maintenance-run stage: runs the installed copy's maintenance program and
// waits for it under the progress dialog.
//
// Uninstall mode (upgradeMode 0): the program of the registered uninstall command
// is started where it lies, with the command's arguments alone as its command
// line. Upgrade mode: a staging directory is made anew in the temporary
// directory (GetTempPath2W where Windows has it) and held from its creation
// (run/staging/StagingDirectory.h): a folder of its name left from an earlier
// run is removed, or, where it cannot be, moved aside under a new name, never
// followed through a link, so that nothing put there before this run (by an
// earlier run, or planted ahead of time) is loaded or run by the staged
// program. The program's directory is copied into it, installed versions above
// 1.10 are refused, the response file is staged, the staged extsetup.exe runs
// silently with it, and everything in the directory (whatever the program left
// there too) is removed with it afterwards. Where the staged program will run
// elevated (the launcher is, or Windows answers that the program needs
// administrator rights and asks the user), the directory is guarded against
// the user's other programs from then until the run is over
// (run/staging/StagingGuard.h); where that cannot be had, a box says so
// (running out of memory in words of its own) and nothing is started.
//
// Elevation: a program that needs administrator rights is started through the
// shell, which asks the user for consent (run/ProgramStart.h); consent not given
// is shown in a box of its own, nothing is started, and staged files stay as
// after any failed start. A start that Windows hands back without a handle
// cannot be waited for: a box says so, nothing is started after it, and the
// staging directory stays guarded (ERROR_INVALID_HANDLE).
//
// Waiting: an upgrade waits until the staged program and the processes that
// carry on its work have ended: those it started (found in its job and by
// parent process id) from the temporary directory or the installed copy's maintenance
// folder. So the clean-up and the new installer never run while an uninstaller's
// copy of itself is still at work, and a browser or viewer that the uninstaller
// opened does not hold them. Once the staged program has ended, that work holds
// the upgrade for at most ten minutes (run/watch/RunWatch.h). An uninstall waits for
// its program alone. Cancel in the progress dialog only stops the waiting;
// nothing started is ever stopped.
//
// Reads stopSetup, runInstalledSetup, upgradeMode, installedVersion,
// setupDirectory and productName. Reads uninstallCommand and overwrites it with
// the program path, in upgrade mode then with the staged program's path.
// Status: 0 when there was nothing to do, the run ended (clean-up troubles are
// shown but do not count), or the maintenance directory cannot be searched
// (shown). -1 when the installed version is refused or the user stopped waiting.
// Any other value: a Windows error code already shown, among them
// ERROR_BAD_PATHNAME for a command that is not a quoted full path and
// ERROR_FILENAME_EXCED_RANGE for a path or command line that would be cut,
// ERROR_CANCELLED when consent was not given.
#pragma once
#include <cstdint>

struct SetupState;

int32_t runMaintenance(SetupState& state);
