// The exact arithmetic behind reading and writing decimal text: unsigned
// integers of up to 5120 bits, and doubles taken apart by their bits, so that no
// step depends on a run-time library or on floating-point settings.
// Platform-free.
#pragma once
#include <cstdint>

// ---- Unsigned integers of up to 5120 bits, least significant limb first.

// The largest number met is one side of a comparison while reading: a halfway
// point's odd significand (54 bits) times 5^1124, shifted by up to 2094 bits, in
// all under 4800 bits (readDecimal limits the digits and the exponent).
constexpr int limbCapacity = 160;

struct BigNumber {
    uint32_t limb[limbCapacity];
    int size;  // limbs in use, the highest one not zero; 0 for zero
};

// Drops the zero limbs at the top.
void trim(BigNumber& number);
void setNumber(BigNumber& number, uint64_t value);
// number = number * factor + addend.
void multiplyAdd(BigNumber& number, uint32_t factor, uint32_t addend);
void multiplyByPowerOfFive(BigNumber& number, long power);
void shiftLeft(BigNumber& number, long bits);
// -1, 0 or 1 as left is less than, equal to or greater than right.
int compare(const BigNumber& left, const BigNumber& right);
// number = number / 10000; returns the remainder.
uint32_t divideBy10000(BigNumber& number);

// ---- Doubles by their bits: value = significand * 2^exponent.

constexpr uint64_t signBit = uint64_t{1} << 63;
constexpr uint64_t infinityBits = uint64_t{0x7FF} << 52;

struct BinaryValue {
    uint64_t significand;
    int exponent;
};

// The value of the bits of a finite nonnegative double.
BinaryValue binaryValue(uint64_t bits);
double fromBits(uint64_t bits);
