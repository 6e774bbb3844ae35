// The names the launcher finds things by: files, setup.ini's section and keys,
// the product codes, registry keys and values, the staging folder and the
// installer's switches. Other programs and stored files use them as they stand.
#pragma once

#include "ProductIdentity.h"

// ---- Files on the medium and in the staging directory.
inline constexpr const char setupIniName[] = "setup.ini";
inline constexpr const char installerName[] = "extsetup.exe";
inline constexpr const char responseFileName[] = "v1uninst100.iss";

// ---- setup.ini.
inline constexpr const char iniSection[] = "Startup";
inline constexpr const char iniKeyProductGuid[] = "ProductGUID";
inline constexpr const char iniKeyProduct[] = "Product";

// ---- The product this launcher installs.
// Product codes probed in the uninstall registry, in order; the first is also the
// one setup.ini must name. GUID text in upper case, without braces.
inline constexpr const char* const knownProductTable[] = {KORVANE_PRODUCT_CODE};
inline constexpr unsigned knownProductCount = sizeof knownProductTable / sizeof knownProductTable[0];

// ---- Uninstall registry (HKEY_LOCAL_MACHINE, 32-bit view).
inline constexpr const char uninstallKeyParent[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr const char valueDisplayName[] = "DisplayName";
inline constexpr const char valueDisplayVersion[] = "DisplayVersion";
inline constexpr const char valueUninstallString[] = "UninstallString";
inline constexpr const char legacyDriverKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Rainbow Sentinel Driver";

// ---- Maintenance run.
inline constexpr const char stagingDirectoryName[] = KORVANE_STAGING_DIRECTORY;
inline constexpr const char silentSwitches[] = " /s /SMS /f1\"";
