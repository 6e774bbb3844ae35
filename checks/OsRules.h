// Which Windows versions the launcher installs on: the supported-OS rows and the
// rule by which a row holds for a given system. Platform-free, so that the rule
// can be tested against any version; the check itself asks the system through
// VerifyVersionInfoA with the same rows.
#pragma once
#include <cstddef>
#include <cstdint>

// VER_NT_WORKSTATION: server editions and domain controllers pass no row.
constexpr uint8_t osProductWorkstation = 1;

struct SupportedOsRow {
    uint32_t major;
    uint32_t minor;
    bool versionAtLeast;  // false: major and minor must be equal
    uint16_t servicePackMajor;
    uint16_t servicePackMinor;
    uint8_t productType;
};

// Tried in this order; the first row that holds decides.
constexpr SupportedOsRow supportedOsTable[] = {
    {6, 0, false, 2, 0, osProductWorkstation},  // Vista SP2 or later service pack
    {6, 1, false, 1, 0, osProductWorkstation},  // 7 SP1 or later service pack
    {6, 2, false, 0, 0, osProductWorkstation},  // 8, any service pack
    {6, 3, true, 0, 0, osProductWorkstation},   // 8.1 and every later version
};
constexpr size_t supportedOsRowCount = sizeof supportedOsTable / sizeof supportedOsTable[0];

// What a system reports about itself.
struct OsFacts {
    uint32_t major;
    uint32_t minor;
    uint16_t servicePackMajor;
    uint16_t servicePackMinor;
    uint8_t productType;
};

// True when the row holds for the system: the same product type, and either the
// same version with at least the row's service pack, or (for an at-least row)
// a (major, minor, service pack major, service pack minor) tuple at least the
// row's, compared field by field.
bool osRowHolds(const SupportedOsRow& row, const OsFacts& system);

// True when any row of supportedOsTable holds.
bool osFactsSupported(const OsFacts& system);
