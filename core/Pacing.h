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
