// Version arithmetic. Versions are always compared as versionTimes100 values,
// never as texts.
#pragma once
#include <cstddef>
#include <cstdint>

#include "ProductIdentity.h"

// The launcher's own version, as its version block gives it ("2,0,0,0").
constexpr const char builtInVersionText[] = KORVANE_LAUNCHER_VERSION_TEXT;
// Capacity of the launcher's display version ("2.0").
constexpr size_t displayVersionCapacity = 6;

// The number a version text stands for: its leading decimal number, read by
// readDecimal (DecimalReading.h), the double nearest to it; 0 when it has none
// ("0x10" is 0 followed by other text, "inf" and "nan" are no number). This is
// also the number that a prompt shows for the version.
double versionDisplayValue(const char* text);

// The floor of versionDisplayValue times 100, in double precision: "1.15" gives
// 114 and "2.01" gives 200, because 1.15 * 100 and 2.01 * 100 land just below
// the integer. Values outside the 32-bit range are clamped.
int32_t versionTimes100(const char* text);

// "2,0,0,0" -> "2.0": the first two comma-separated fields as "%d.%d". Empty
// fields are skipped; a missing field counts as 0. Always terminated.
void formatFileVersion(char* destination, const char* source, size_t capacity);
