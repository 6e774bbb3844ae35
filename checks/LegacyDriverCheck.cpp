#include "checks/LegacyDriverCheck.h"

#include <windows.h>

#include "checks/OsCheck.h"
#include "core/FixedNames.h"
#include "core/SystemError.h"
#include "core/UserTexts.h"

int32_t legacyDriverCheck(int32_t& goOn) {
    goOn = 1;
    if (!isSupportedOs()) return 0;
    // The driver's installer is a 32-bit one: its entry lives in the 32-bit view,
    // and an entry of the same name in the 64-bit view belongs to something else.
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, legacyDriverKey, 0, KEY_READ | KEY_WOW64_32KEY, &key) !=
        ERROR_SUCCESS)
        return 0;  // absent or unreadable: counts as not installed
    showMessage(textLegacyDriver, captionSetup, MB_OK | MB_ICONWARNING);
    goOn = 0;
    RegCloseKey(key);
    return 0;
}
