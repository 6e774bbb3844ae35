#include "core/Version.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/DecimalReading.h"
#include "core/Text.h"

double versionDisplayValue(const char* text) { return readDecimal(text); }

int32_t versionTimes100(const char* text) {
    // The store through a volatile double rounds to double precision even where
    // the x87 unit would keep more bits; the floor then sees the product that the
    // versions were always compared by.
    volatile double product = versionDisplayValue(text) * 100.0;
    double floored = std::floor(product);
    if (floored >= 2147483647.0) return INT32_MAX;
    if (floored <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(floored);
}

namespace {

// strtok-like: the next field after skipping delimiters; empty fields do not count.
const char* nextField(const char* cursor, const char** fieldEnd) {
    while (*cursor == ',') ++cursor;
    if (*cursor == '\0') return nullptr;
    const char* end = cursor;
    while (*end != '\0' && *end != ',') ++end;
    *fieldEnd = end;
    return cursor;
}

// atoi of one field, without atoi's undefined overflow.
int fieldNumber(const char* field, const char* end) {
    char digits[261];
    size_t length = static_cast<size_t>(end - field);
    if (length > sizeof digits - 1) length = sizeof digits - 1;
    for (size_t i = 0; i < length; ++i) digits[i] = field[i];
    digits[length] = '\0';
    long value = std::strtol(digits, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

void formatFileVersion(char* destination, const char* source, size_t capacity) {
    if (capacity == 0) return;
    char work[261];
    copyBounded(work, source, sizeof work);
    int numbers[2] = {0, 0};
    const char* cursor = work;
    for (int& number : numbers) {
        const char* end = nullptr;
        const char* field = nextField(cursor, &end);
        if (field == nullptr) break;
        number = fieldNumber(field, end);
        cursor = end;
    }
    std::snprintf(destination, capacity, "%d.%d", numbers[0], numbers[1]);
    destination[capacity - 1] = '\0';
}
