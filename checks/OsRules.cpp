#include "checks/OsRules.h"

namespace {

// -1, 0 or 1 as a is below, equal to or above b.
int compare(uint32_t a, uint32_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

}  // namespace

bool osRowHolds(const SupportedOsRow& row, const OsFacts& system) {
    if (system.productType != row.productType) return false;
    if (!row.versionAtLeast) {
        if (system.major != row.major || system.minor != row.minor) return false;
        int servicePack = compare(system.servicePackMajor, row.servicePackMajor);
        if (servicePack == 0) servicePack = compare(system.servicePackMinor, row.servicePackMinor);
        return servicePack >= 0;
    }
    // VerifyVersionInfoA compares a greater-or-equal chain this way: the first
    // unequal field decides, so 7.0 passes a 6.3 row although 0 < 3.
    const int fields[] = {
        compare(system.major, row.major),
        compare(system.minor, row.minor),
        compare(system.servicePackMajor, row.servicePackMajor),
        compare(system.servicePackMinor, row.servicePackMinor),
    };
    for (int field : fields)
        if (field != 0) return field > 0;
    return true;
}

bool osFactsSupported(const OsFacts& system) {
    for (const SupportedOsRow& row : supportedOsTable)
        if (osRowHolds(row, system)) return true;
    return false;
}
