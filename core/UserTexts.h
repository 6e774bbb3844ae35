// What the user reads: message-box captions, messages, prompts and the texts of
// the dialogs. Inline, so that a text has one address in the whole program: a
// rule that answers with one of them can be checked by which one it gave.
#pragma once

// ---- Message-box captions.
inline constexpr const char captionError[] = "Error";
inline constexpr const char captionSetup[] = "Setup";

// ---- Start-up.
inline constexpr const char textAllocationFailed[] = "Error allocating memory.";

// ---- A medium in a folder whose name the system's code page cannot write, and
// which has no short name to reach it by instead.
inline constexpr const char textMediumFolderUnusable[] =
    "The name of the folder that holds this setup program contains characters that cannot be used "
    "with this computer's language for non-Unicode programs, and Windows keeps no short name for "
    "it. Setup cannot continue. Please copy the installation files to a folder whose name uses "
    "only letters of that language (for example C:\\Korvane) and start Setup from there.";

// ---- setup.ini that does not name this product.
inline constexpr const char textProductCodeMissing[] =
    "The setup information file setup.ini is missing beside this setup program, or it does not "
    "name a product (ProductGUID in section Startup). Setup cannot continue.";
inline constexpr const char textProductCodeForeign[] =
    "The setup information file setup.ini names a product that this setup program does not "
    "install (ProductGUID in section Startup). Setup cannot continue.";

// ---- Detection prompts and messages.
inline constexpr const char textDisplayNameMissing[] = "DisplayName string does not exist in registry.";
inline constexpr const char textUninstallStringMissing[] = "Uninstall string does not exist in registry.";
inline constexpr const char nameUnknown[] = "?";
inline constexpr const char promptSameVersion[] =
    "%s %.2f already exists on your system. Would you like to uninstall your software now?";
inline constexpr const char promptOlderVersion[] =
    "An older version of %s (%.2f) has been detected. Would you like to upgrade your software now?";
inline constexpr const char noticeNewerVersion[] =
    "A newer version of %s (%.2f) has been detected. You must first uninstall the existing version "
    "of software to continue. Any databases created/updated using the existing software will not "
    "be compatible with this version of software if you decide to downgrade.";

// ---- Operating-system and legacy driver warnings (the first ends without a full stop).
inline constexpr const char textUnsupportedOs[] =
    "This version of software is not supported on the current operating system. This software "
    "requires one of the following: Windows 8 (x86 or x64), Windows 7 (x86 or x64) SP1 or greater, "
    "or Windows Vista (x86 or x64) SP2 or greater";
inline constexpr const char textLegacyDriver[] =
    "Cannot upgrade Sentinel driver. Please remove all Sentinel hardware keys from computer and "
    "uninstall 'Sentinel System Driver' via Add/Remove Programs then restart installation.";

// ---- Confirmation dialog.
inline constexpr const char confirmationTemplate[] =
    "%s v.%s is about to be installed. Your computer may restart during installation. Please save "
    "any unsaved files before continuing. Click 'Install' to begin installation or 'Cancel' to exit.";

// ---- Progress dialog.
inline constexpr const char progressTemplate[] = "Please wait while %s configures your upgrade...";

// ---- Maintenance run.
inline constexpr const char textNoMaintenanceFiles[] =
    "Could not find any files in InstallShield Installation Information directory.";
inline constexpr const char textNoStagedFiles[] =
    "Could not find any installation files in temporary directory.";
inline constexpr const char textIllegalVersion[] = "Illegal installed version.";
// The user's temporary folder, where an upgrade stages, under a name the code
// page cannot write and without a short name.
inline constexpr const char textTemporaryFolderUnusable[] =
    "The name of your temporary folder contains characters that cannot be used with this "
    "computer's language for non-Unicode programs, and Windows keeps no short name for it, so "
    "Setup cannot upgrade the installed version. Please set the TEMP and TMP environment variables "
    "to a folder whose name uses only letters of that language (for example C:\\Temp), then "
    "restart installation.";
// An uninstall command whose program is not a full path in double quotes: an
// unquoted path could be cut at any blank, a bare name would be searched for.
inline constexpr const char textUnusableUninstallCommand[] =
    "The installed version's uninstall command does not name its program by a full path in "
    "double quotes, so Setup cannot run it safely. Please uninstall the installed version via "
    "Add/Remove Programs, then restart installation.";

// ---- Elevation.
// Windows asked the user for administrator consent to start a program that
// needs it, and the user declined (or no administrator's password was given).
inline constexpr const char textConsentRefused[] =
    "Setup did not start the installation program, because Windows' administrator consent was not "
    "given. To go on, run Setup again and answer Yes when Windows asks whether to allow it to make "
    "changes to this computer.";

// The upgrade's program would run with administrator rights from files in the
// user's temporary directory that could not be protected from the user's other
// programs: it is not started. The first for a launcher that is not elevated,
// the second for one that is (the advice to run it elevated would be no help).
inline constexpr const char textUnsafeUpgrade[] =
    "Setup cannot upgrade the installed version safely from this account: the upgrade's files in the "
    "temporary directory could not be protected while they run with administrator rights. Please "
    "run Setup again as an administrator (right-click it and choose 'Run as administrator'), or "
    "uninstall the installed version via Add/Remove Programs, then restart installation.";
inline constexpr const char textUnsafeElevatedUpgrade[] =
    "Setup cannot upgrade the installed version safely: the upgrade's files in the temporary directory "
    "could not be protected while they run with administrator rights. Another program may be using "
    "them, or the temporary directory may lie on a drive that keeps no permissions. Please close other "
    "programs, make sure the TEMP and TMP environment variables name a folder on an NTFS drive, and "
    "restart installation, or uninstall the installed version via Add/Remove Programs.";

// Setup ran out of memory while it held the files of the upgrade.
inline constexpr const char textUpgradeOutOfMemory[] =
    "Setup does not have enough memory to protect the upgrade's files, so it cannot upgrade the "
    "installed version. Please close other programs and restart installation.";

// Windows started the maintenance program, but handed Setup no handle to it:
// Setup cannot tell when it has finished, so it starts nothing after it.
inline constexpr const char textStartNotFollowed[] =
    "Windows started the installed version's maintenance program in a way Setup cannot follow, so "
    "Setup cannot tell when it has finished. Please wait until it has finished, then run Setup again.";
