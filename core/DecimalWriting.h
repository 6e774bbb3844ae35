// Double to decimal text in exact integer arithmetic, so that every system shows
// a version alike whatever its run-time library or floating-point settings.
// Platform-free.
#pragma once
#include <cstddef>

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
