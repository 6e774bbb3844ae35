// Decimal text to double in exact integer arithmetic, so that every system reads
// a version alike whatever its run-time library or floating-point settings.
// Platform-free.
#pragma once

// The leading decimal number of text: leading white space (as strtod skips it in
// the "C" locale), a sign, digits with at most one point, then an exponent ("e" or
// "E", a sign and at least one digit) if one follows, up to the first character
// that does not fit. The value is the double nearest to it, ties to even, however
// many digits the text has; beyond the range of double it is an infinity or a
// zero of its sign. Only decimal: "0x10" is 0 followed by other text, and "inf"
// and "nan" are no number. Text without a number gives 0.
double readDecimal(const char* text);
