// The launcher's own texts, names and the numbers that pace it, in one place.
#pragma once

#include "ProductIdentity.h"

// ---- Message-box captions.
constexpr const char captionError[] = "Error";
constexpr const char captionSetup[] = "Setup";

// ---- Start-up.
constexpr const char textAllocationFailed[] = "Error allocating memory.";
// Pause before the sequence runs, in milliseconds.
constexpr unsigned startupPauseMs = 1000;

// ---- Files on the medium and in the staging directory.
constexpr const char setupIniName[] = "setup.ini";
constexpr const char installerName[] = "extsetup.exe";
constexpr const char responseFileName[] = "v1uninst100.iss";

// ---- setup.ini.
constexpr const char iniSection[] = "Startup";
constexpr const char iniKeyProductGuid[] = "ProductGUID";
constexpr const char iniKeyProduct[] = "Product";

// ---- The product this launcher installs.
// Product codes probed in the uninstall registry, in order; the first is also the
// one setup.ini must name. GUID text in upper case, without braces.
constexpr const char* const knownProductTable[] = {KORVANE_PRODUCT_CODE};
constexpr unsigned knownProductCount = sizeof knownProductTable / sizeof knownProductTable[0];

// ---- Uninstall registry (HKEY_LOCAL_MACHINE, 32-bit view).
constexpr const char uninstallKeyParent[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const char valueDisplayName[] = "DisplayName";
constexpr const char valueDisplayVersion[] = "DisplayVersion";
constexpr const char valueUninstallString[] = "UninstallString";
constexpr const char legacyDriverKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Rainbow Sentinel Driver";

// ---- Detection prompts and messages.
constexpr const char textDisplayNameMissing[] = "DisplayName string does not exist in registry.";
constexpr const char textUninstallStringMissing[] = "Uninstall string does not exist in registry.";
constexpr const char nameUnknown[] = "?";
constexpr const char promptSameVersion[] =
    "%s %.2f already exists on your system. Would you like to uninstall your software now?";
constexpr const char promptOlderVersion[] =
    "An older version of %s (%.2f) has been detected. Would you like to upgrade your software now?";
constexpr const char noticeNewerVersion[] =
    "A newer version of %s (%.2f) has been detected. You must first uninstall the existing version "
    "of software to continue. Any databases created/updated using the existing software will not "
    "be compatible with this version of software if you decide to downgrade.";

// ---- Operating-system and legacy driver warnings (the first ends without a full stop).
constexpr const char textUnsupportedOs[] =
    "This version of software is not supported on the current operating system. This software "
    "requires one of the following: Windows 8 (x86 or x64), Windows 7 (x86 or x64) SP1 or greater, "
    "or Windows Vista (x86 or x64) SP2 or greater";
constexpr const char textLegacyDriver[] =
    "Cannot upgrade Sentinel driver. Please remove all Sentinel hardware keys from computer and "
    "uninstall 'Sentinel System Driver' via Add/Remove Programs then restart installation.";

// ---- Confirmation dialog.
constexpr const char confirmationTemplate[] =
    "%s v.%s is about to be installed. Your computer may restart during installation. Please save "
    "any unsaved files before continuing. Click 'Install' to begin installation or 'Cancel' to exit.";

// ---- Progress dialog and process monitor.
constexpr const char progressTemplate[] = "Please wait while %s configures your upgrade...";
constexpr int progressRangeMax = 300;
constexpr unsigned monitorStepPauseMs = 1000;  // per step while the program runs
constexpr unsigned runUpStepPauseMs = 5;       // per step of the run-up to the end
constexpr int monitorDialogTimeout = 258;      // WAIT_TIMEOUT: dialog ended before the program did

// ---- Maintenance run.
constexpr const char stagingDirectoryName[] = KORVANE_STAGING_DIRECTORY;
constexpr const char silentSwitches[] = " /s /SMS /f1\"";
constexpr int highestUpgradableVersion = 110;  // versionTimes100 of 1.10
constexpr unsigned cleanupPauseMs = 1000;
constexpr const char textNoMaintenanceFiles[] =
    "Could not find any files in InstallShield Installation Information directory.";
constexpr const char textNoStagedFiles[] = "Could not find any installation files in temporary directory.";
constexpr const char textIllegalVersion[] = "Illegal installed version.";
// An uninstall command whose program is not a full path in double quotes: an
// unquoted path could be cut at any blank, a bare name would be searched for.
constexpr const char textUnusableUninstallCommand[] =
    "The installed version's uninstall command does not name its program by a full path in "
    "double quotes, so Setup cannot run it safely. Please uninstall the installed version via "
    "Add/Remove Programs, then restart installation.";
