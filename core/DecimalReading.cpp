#include "core/DecimalReading.h"

#include <cstdint>

#include "core/ExactNumber.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// No point halfway between two doubles has more than 768 significant digits, so
// a text's digits beyond the 800th can only tell whether it lies above the
// truncated number: one nonzero digit placed after the 800th says as much.
constexpr int keptDigits = 800;

// The sign of digits * 10^exponent minus the point halfway between the
// nonnegative double of these bits and the next one up, (2m + 1) * 2^(e - 1).
int compareWithHalfway(const BigNumber& digits, long exponent, uint64_t bits) {
    const BinaryValue below = binaryValue(bits);
    BigNumber value = digits;
    BigNumber halfway{};
    setNumber(halfway, 2 * below.significand + 1);
    // 10^exponent is 5^exponent * 2^exponent; a negative power of five goes to the
    // other side, and the two powers of two meet at the larger one.
    if (exponent >= 0)
        multiplyByPowerOfFive(value, exponent);
    else
        multiplyByPowerOfFive(halfway, -exponent);
    const long shift = exponent - (below.exponent - 1);
    if (shift > 0)
        shiftLeft(value, shift);
    else
        shiftLeft(halfway, -shift);
    return compare(value, halfway);
}

// The nonnegative double nearest to digits * 10^exponent, ties to even: the
// least bit pattern whose upper halfway point lies above the value, or on it with
// an even pattern. Patterns of nonnegative doubles are ordered as their values;
// the pattern of infinity stands above the largest double, so a value past the
// last halfway point becomes infinity.
double nearestDouble(const BigNumber& digits, long exponent) {
    uint64_t low = 0;
    uint64_t high = infinityBits;
    while (low < high) {
        const uint64_t middle = low + (high - low) / 2;
        const int side = compareWithHalfway(digits, exponent, middle);
        if (side < 0 || (side == 0 && middle % 2 == 0))
            high = middle;
        else
            low = middle + 1;
    }
    return fromBits(low);
}

}  // namespace

double readDecimal(const char* text) {
    const char* p = text;
    while (isSpace(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;

    // The value is digits * 10^exponent, digits without leading zeros.
    char digits[keptDigits + 1];
    int count = 0;
    long long exponent = 0;
    bool anyDigit = false;
    bool pointSeen = false;
    bool nonzeroDropped = false;
    for (;; ++p) {
        if (*p == '.' && !pointSeen) {
            pointSeen = true;
            continue;
        }
        if (!isDigit(*p)) break;
        anyDigit = true;
        if (count == 0 && *p == '0') {
            if (pointSeen) --exponent;
        } else if (count < keptDigits) {
            digits[count++] = *p;
            if (pointSeen) --exponent;
        } else {
            if (!pointSeen) ++exponent;
            if (*p != '0') nonzeroDropped = true;
        }
    }
    if (!anyDigit) return 0.0;
    if (*p == 'e' || *p == 'E') {
        const char* e = p + 1;
        const bool negativeExponent = *e == '-';
        if (*e == '+' || *e == '-') ++e;
        // Past 10^17 any exponent is out of range, whatever the digits before it.
        long long value = 0;
        for (; isDigit(*e); ++e) {
            if (value < 100000000000000000LL) value = value * 10 + (*e - '0');
        }
        exponent += negativeExponent ? -value : value;
    }
    if (nonzeroDropped) {
        digits[count++] = '1';
        --exponent;
    }
    while (count > 0 && digits[count - 1] == '0') {
        --count;
        ++exponent;
    }

    double magnitude = 0.0;
    // 10^(count + exponent - 1) <= value < 10^(count + exponent): from 10^309 on
    // it is beyond the largest double, and below 10^-323 under half the smallest.
    if (count > 0 && count + exponent > 309) {
        magnitude = fromBits(infinityBits);
    } else if (count > 0 && count + exponent >= -323) {
        BigNumber number{};
        for (int i = 0; i < count; ++i) multiplyAdd(number, 10, static_cast<uint32_t>(digits[i] - '0'));
        magnitude = nearestDouble(number, static_cast<long>(exponent));
    }
    return negative ? -magnitude : magnitude;
}
