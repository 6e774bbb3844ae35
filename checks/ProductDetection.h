// The detection stage: finds the launcher's directory, reads setup.ini, asks for
// confirmation, checks the system, looks for an installed copy of each known
// product in the 32-bit uninstall registry and asks what to do with it, and
// checks for the legacy driver.
//
// Reads stopSetup. Writes setupDirectory and productName; after a Yes to a
// prompt, installedVersion, installedName and uninstallCommand (terminated when
// "UninstallString" was read whole; a value that filled the whole field without
// its terminator is left so, for the maintenance run to refuse); the flags
// runInstalledSetup, uninstallOnly, upgradeMode and stopSetup (only ever to 1,
// runInstalledSetup excepted: back to 0 when "UninstallString" cannot be read).
// The confirmation step writes confirmationText, bannerBitmapId, bannerBitmap.
//
// Status: 0 lets the chain go on (stopSetup tells whether anything is left to
// do); the Windows error code when the launcher's own path cannot be had, or
// ERROR_FILENAME_EXCED_RANGE when the path of setup.ini beside it would be
// longer than 260 characters; -1 when the confirmation failed or an installed
// copy's name or version could not be read. Every failure has been shown to the
// user.
#pragma once
#include <cstdint>

struct SetupState;

int32_t detectInstalledProduct(SetupState& state);
