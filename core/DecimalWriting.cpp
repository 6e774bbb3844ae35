#include "core/DecimalWriting.h"

#include <cstdint>
#include <cstring>

#include "core/ExactNumber.h"
#include "core/Text.h"

namespace {

constexpr int shownDigits = 17;

// The first 18 significant digits of the exact value of a finite nonnegative
// double (fewer when it has fewer), and where the point stands: the value is
// 0.d1d2d3... * 10^point. Zero has no digits.
struct DecimalDigits {
    char digit[shownDigits + 1];
    int count;
    int point;
};

DecimalDigits exactDigits(uint64_t bits) {
    DecimalDigits result{};
    const BinaryValue value = binaryValue(bits);
    if (value.significand == 0) return result;
    // An integer part, and for a negative exponent a fraction of `scale` bits.
    const int scale = value.exponent < 0 ? -value.exponent : 0;
    BigNumber whole{};
    setNumber(whole, scale < 64 ? value.significand >> scale : 0);
    shiftLeft(whole, value.exponent);
    // All digits of the integer part (up to 309), four at a time from the lowest.
    char all[320];
    int length = 0;
    while (whole.size > 0) {
        uint32_t group = divideBy10000(whole);
        for (int i = 0; i < 4; ++i, group /= 10) all[length++] = static_cast<char>('0' + group % 10);
    }
    while (length > 0 && all[length - 1] == '0') --length;  // the highest group's leading zeros
    result.point = length;
    for (; result.count < shownDigits + 1 && result.count < length; ++result.count)
        result.digit[result.count] = all[length - 1 - result.count];
    if (scale == 0) return result;
    // The fraction's digits come one by one as it is multiplied by 10: each is
    // what then stands at bit `scale` and above (under 10), and is taken off.
    BigNumber fraction{};
    setNumber(fraction, scale < 64 ? value.significand & ((uint64_t{1} << scale) - 1) : value.significand);
    const int top = scale / 32;
    const int bit = scale % 32;
    while (fraction.size > 0 && result.count < shownDigits + 1) {
        multiplyAdd(fraction, 10, 0);
        uint32_t digit = 0;
        if (top < fraction.size) {
            digit = fraction.limb[top] >> bit;
            if (bit != 0 && top + 1 < fraction.size) digit |= fraction.limb[top + 1] << (32 - bit);
            fraction.limb[top] &= (uint32_t{1} << bit) - 1;
            fraction.size = top + 1;
            trim(fraction);
        }
        if (result.count == 0 && digit == 0)
            --result.point;
        else
            result.digit[result.count++] = static_cast<char>('0' + digit);
    }
    return result;
}

// Adds one to the decimal digits text[0..length); a carry out of the first makes
// them 1 followed by zeros, one longer. Returns the new length.
int incrementDigits(char* text, int length) {
    for (int i = length - 1; i >= 0; --i) {
        if (text[i] != '9') {
            ++text[i];
            return length;
        }
        text[i] = '0';
    }
    std::memmove(text + 1, text, static_cast<size_t>(length));
    text[0] = '1';
    return length + 1;
}

}  // namespace

void formatTwoDecimals(char* destination, size_t capacity, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    char text[twoDecimalsCapacity];
    int length = 0;
    const bool negative = (bits & signBit) != 0;
    bits &= ~signBit;
    if (negative) text[length++] = '-';
    if (bits >= infinityBits) {
        // The run-time writes an infinity as 1.#INF and a NaN as 1.#QNAN (the
        // indefinite NaN, with its sign, as 1.#IND), and rounds those texts too.
        const char* shown = bits == infinityBits || negative ? "1.#J" : "1.#R";
        std::memcpy(text + length, shown, 5);
        copyBounded(destination, text, capacity);
        return;
    }

    DecimalDigits exact = exactDigits(bits);
    if (exact.count > shownDigits) {
        exact.count = shownDigits;
        if (exact.digit[shownDigits] >= '5' && incrementDigits(exact.digit, shownDigits) > shownDigits) {
            exact.count = 1;  // 99...9 became 100...0
            ++exact.point;
        }
    }
    // The value times 100, rounded half up: the digits down to the hundredths,
    // zeros where the 17 end, and the next digit decides.
    char hundredths[twoDecimalsCapacity];
    const int kept = exact.point + 2;
    int used = 0;
    for (; used < kept; ++used) hundredths[used] = used < exact.count ? exact.digit[used] : '0';
    if (kept >= 0 && kept < exact.count && exact.digit[kept] >= '5') used = incrementDigits(hundredths, used);

    // Integer part (at least "0"), point, two decimals.
    if (used <= 2) text[length++] = '0';
    for (int i = 0; i < used - 2; ++i) text[length++] = hundredths[i];
    text[length++] = '.';
    text[length++] = used >= 2 ? hundredths[used - 2] : '0';
    text[length++] = used >= 1 ? hundredths[used - 1] : '0';
    text[length] = '\0';
    copyBounded(destination, text, capacity);
}
