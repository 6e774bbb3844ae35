// The operating-system check: is the running system one of the supported
// desktop editions (Vista SP2, 7 SP1, 8, 8.1 and later)?
//
// Reads and writes nothing of SetupState; the detection stage acts on the result.
#pragma once
#include "checks/OsRules.h"

// True as soon as one supported-OS row holds for the running system. Shows nothing.
bool isSupportedOs();

// isSupportedOs, and when it is false the unsupported-system warning ("Setup",
// warning icon, OK) once the user has closed it. True: supported.
bool checkOperatingSystem();

// Asks the running system whether one row holds (VerifyVersionInfoA). A failing
// call counts as a row that does not hold.
bool probeOsRow(const SupportedOsRow& row);
