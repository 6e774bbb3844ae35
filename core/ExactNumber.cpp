#include "core/ExactNumber.h"

#include <cstring>

void trim(BigNumber& number) {
    while (number.size > 0 && number.limb[number.size - 1] == 0) --number.size;
}

void setNumber(BigNumber& number, uint64_t value) {
    number.limb[0] = static_cast<uint32_t>(value);
    number.limb[1] = static_cast<uint32_t>(value >> 32);
    number.size = 2;
    trim(number);
}

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

// Half a limb at a time, so that every step is a 32-bit division.
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
