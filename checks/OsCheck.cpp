#include "checks/OsCheck.h"

#include <windows.h>

#include <cstring>

#include "core/SystemError.h"
#include "core/UserTexts.h"

bool probeOsRow(const SupportedOsRow& row) {
    OSVERSIONINFOEXA wanted;
    std::memset(&wanted, 0, sizeof wanted);
    static_assert(sizeof wanted == 156, "the narrow extended version record");
    wanted.dwOSVersionInfoSize = sizeof wanted;
    wanted.dwMajorVersion = row.major;
    wanted.dwMinorVersion = row.minor;
    wanted.wServicePackMajor = row.servicePackMajor;
    wanted.wServicePackMinor = 0;
    wanted.wProductType = row.productType;

    const BYTE versionCondition = row.versionAtLeast ? VER_GREATER_EQUAL : VER_EQUAL;
    ULONGLONG conditions = 0;
    conditions = VerSetConditionMask(conditions, VER_MAJORVERSION, versionCondition);
    conditions = VerSetConditionMask(conditions, VER_MINORVERSION, versionCondition);
    conditions = VerSetConditionMask(conditions, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    conditions = VerSetConditionMask(conditions, VER_SERVICEPACKMINOR, VER_GREATER_EQUAL);
    conditions = VerSetConditionMask(conditions, VER_PRODUCT_TYPE, VER_EQUAL);

    constexpr DWORD fields =
        VER_MINORVERSION | VER_MAJORVERSION | VER_SERVICEPACKMINOR | VER_SERVICEPACKMAJOR | VER_PRODUCT_TYPE;
    static_assert(fields == 0xB3, "the fields compared");
    return VerifyVersionInfoA(&wanted, fields, conditions) != FALSE;
}

static_assert(osProductWorkstation == VER_NT_WORKSTATION, "the rows name workstations");

bool isSupportedOs() {
    for (const SupportedOsRow& row : supportedOsTable)
        if (probeOsRow(row)) return true;
    return false;
}

bool checkOperatingSystem() {
    if (isSupportedOs()) return true;
    showMessage(textUnsupportedOs, captionSetup, MB_OK | MB_ICONWARNING);
    return false;
}
