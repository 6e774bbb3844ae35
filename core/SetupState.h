// The one record that carries every decision and every text of a run from stage
// to stage. It starts zero-filled: every flag false, every text empty, no banner.
// Flags hold 0 or 1 and are written only by the detection stage; stopSetup only
// ever goes from 0 to 1.
#pragma once
#include <cstddef>
#include <cstdint>

// Paths, names, version texts, registry and ini values: the 260-character path
// limit plus the terminator.
constexpr size_t textCapacity = 261;
// Texts composed for the user: the confirmation text and the detection prompts.
constexpr size_t longTextCapacity = 501;

struct SetupState {
    char installedVersion[textCapacity];  // "DisplayVersion" of the installed copy
    char installedName[textCapacity];     // "DisplayName", or "?"
    int32_t runInstalledSetup;            // run the installed copy's maintenance command
    int32_t uninstallOnly;                // same version, user chose to uninstall
    int32_t upgradeMode;                  // older version, user chose to upgrade
    int32_t stopSetup;                    // the run is over; later stages do nothing
    char uninstallCommand[textCapacity];  // "UninstallString", later the program path
    char setupDirectory[textCapacity];    // the launcher's directory, ends in a backslash
    char productName[textCapacity];       // "Product" of setup.ini
    int32_t bannerBitmapId;               // 137 when the product code matched, else 0
    void* bannerBitmap;                   // the loaded banner (an HBITMAP); lives until exit
    char confirmationText[longTextCapacity];
};
