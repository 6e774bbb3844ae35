#include "core/DecimalText.h"

#include <cstdint>
#include <cstring>

#include "core/Text.h"

namespace {

// ---- Unsigned integers of up to 5120 bits, least significant limb first.

// The largest number met is one side of a comparison while reading: a halfway
// point's odd significand (54 bits) times 5^1124, shifted by up to 2094 bits, in
// all under 4800 bits (readDecimal limits the digits and the exponent).
constexpr int limbCapacity = 160;

struct BigNumber {
    uint32_t limb[limbCapacity];
    int size;  // limbs in use, the highest one not zero; 0 for zero
};

void trim(BigNumber& number) {
    while (number.size > 0 && number.limb[number.size - 1] == 0) --number.size;
}

void setNumber(BigNumber& number, uint64_t value) {
    number.limb[0] = static_cast<uint32_t>(value);
    number.limb[1] = static_cast<uint32_t>(value >> 32);
    number.size = 2;
    trim(number);
}

// number = number * factor + addend.
void multiplyAdd(BigNumber& number, uint32_t factor, uint32_t addend) {
    uint64_t carry = addend;
    for (int i = 0; i < number.size; ++i) {
        const uint64_t product = static_cast<uint64_t>(number.limb[i]) * factor + carry;
        number.limb[i] = static_cast<uint32_t>(product);
        carry = product >> 32;
    }
    if (carry != 0 && number.size < limbCapacity) number.limb[number.size++] = static_cast<uint32_t>(carry);
}

void multiplyByPowerOfFive(BigNumber& number, long power) {
    for (; power >= 13; power -= 13) multiplyAdd(number, 1220703125u, 0);  // 5^13
    uint32_t rest = 1;
    for (; power > 0; --power) rest *= 5;
    multiplyAdd(number, rest, 0);
}

void shiftLeft(BigNumber& number, long bits) {
    if (number.size == 0 || bits <= 0) return;
    const int whole = static_cast<int>(bits / 32);
    const int part = static_cast<int>(bits % 32);
    int size = number.size + whole + 1;
    if (size > limbCapacity) size = limbCapacity;  // not reached within the bound above
    // From the top down, so that no limb is overwritten before it is read.
    for (int i = size - 1; i >= 0; --i) {
        const int from = i - whole;
        const uint32_t high = from >= 0 && from < number.size ? number.limb[from] : 0;
        const uint32_t low = from >= 1 && from - 1 < number.size ? number.limb[from - 1] : 0;
        number.limb[i] = part == 0 ? high : (high << part) | (low >> (32 - part));
    }
    number.size = size;
    trim(number);
}

int compare(const BigNumber& left, const BigNumber& right) {
    if (left.size != right.size) return left.size < right.size ? -1 : 1;
    for (int i = left.size - 1; i >= 0; --i) {
        if (left.limb[i] != right.limb[i]) return left.limb[i] < right.limb[i] ? -1 : 1;
    }
    return 0;
}

// number = number / 10000; returns the remainder. Half a limb at a time, so that
// every step is a 32-bit division.
uint32_t divideBy10000(BigNumber& number) {
    uint32_t rest = 0;
    for (int i = number.size - 1; i >= 0; --i) {
        const uint32_t high = rest << 16 | number.limb[i] >> 16;
        const uint32_t low = (high % 10000) << 16 | (number.limb[i] & 0xFFFF);
        number.limb[i] = (high / 10000) << 16 | low / 10000;
        rest = low % 10000;
    }
    trim(number);
    return rest;
}

// ---- Doubles by their bits: value = significand * 2^exponent.

constexpr uint64_t signBit = uint64_t{1} << 63;
constexpr uint64_t infinityBits = uint64_t{0x7FF} << 52;

struct BinaryValue {
    uint64_t significand;
    int exponent;
};

BinaryValue binaryValue(uint64_t bits) {
    const int biased = static_cast<int>(bits >> 52);
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    if (biased == 0) return {fraction, -1074};
    return {fraction | uint64_t{1} << 52, biased - 1075};
}

double fromBits(uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// ---- Reading.

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

namespace {

// ---- Showing.

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
