// The timings that pace the launcher, and the numbers that bound its steps.
#pragma once

// Pause before the sequence runs, in milliseconds.
inline constexpr unsigned startupPauseMs = 1000;

// ---- Progress dialog and process monitor.
inline constexpr int progressRangeMax = 300;
inline constexpr unsigned monitorStepPauseMs = 1000;  // per step while the program runs
inline constexpr unsigned runUpStepPauseMs = 5;       // per step of the run-up to the end
inline constexpr int monitorDialogTimeout = 258;      // WAIT_TIMEOUT: dialog ended before the program did

// ---- Maintenance run.
inline constexpr int highestUpgradableVersion = 110;  // versionTimes100 of 1.10
inline constexpr unsigned cleanupPauseMs = 1000;
// How long the processes that carry on a maintenance program's work (its copy
// relaunched from the temporary directory, a helper from its folder) may hold an
// upgrade once the program itself has ended. A large product's uninstaller is done
// within a few minutes; a process still there after ten waits for something else
// (a page the user left open), and the upgrade goes on as after a normal end.
inline constexpr unsigned lingeringWorkLimitMs = 10 * 60 * 1000;
// How many processes of a run are followed by their parent process ids, where no
// job holds them: an uninstaller and its copies are a handful.
inline constexpr unsigned followedProcessCapacity = 64;
