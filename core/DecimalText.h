// Decimal text to double and double to decimal text, in exact integer
// arithmetic, so that every system reads and shows a version alike whatever its
// run-time library or floating-point settings. Platform-free.
#pragma once
#include <cstddef>

// The leading decimal number of text: leading white space (as strtod skips it in
// the "C" locale), a sign, digits with at most one point, then an exponent ("e" or
// "E", a sign and at least one digit) if one follows, up to the first character
// that does not fit. The value is the double nearest to it, ties to even, however
// many digits the text has; beyond the range of double it is an infinity or a
// zero of its sign. Only decimal: "0x10" is 0 followed by other text, and "inf"
// and "nan" are no number. Text without a number gives 0.
double readDecimal(const char* text);

// Room for any value formatTwoDecimals writes: the sign, 309 integer digits and
// one more from rounding, the point, two decimals and the terminator.
constexpr size_t twoDecimalsCapacity = 315;

// The value with two decimals, as the Microsoft C run-time's "%.2f" shows it. That
// run-time takes a double to 17 significant digits, the last rounded half up, and
// fills any further places with zeros; the two decimals are then rounded from that
// text, half up again (ties away from zero). So 1.125 shows as 1.13, 2.005
// (2.00499999999999989...) as 2.00, and 1.075 (1.07499999999999995559...) as
// 1.08, since its 17 digits read 1.0750000000000000. A negative zero keeps its
// sign (-0.00); an infinity shows as 1.#J or -1.#J, and NaN as 1.#R, the
// run-time's own texts. Always terminated; cut to capacity - 1 characters.
void formatTwoDecimals(char* destination, size_t capacity, double value);
