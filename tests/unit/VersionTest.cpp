#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/Version.h"

TEST(VersionTimes100, FloorsTheDoublePrecisionProduct) {
    struct Row { const char* text; int32_t expected; } rows[] = {
        {"2.0", 200}, {"2", 200}, {"2.00", 200}, {"2.0.5", 200},
        {"1.10", 110}, {"1.1", 110}, {"1.11", 111},
        {"1.15", 114},   // 114.99999999999999
        {"2.01", 200},   // 200.99999999999997
        {"1.05", 105}, {"1.2.3", 120}, {"1.999", 199}, {"2.1", 210},
        {"", 0}, {"abc", 0}, {"  1.5", 150}, {"-0.5", -50}, {"0.001", 0},
    };
    for (const Row& row : rows) EXPECT_EQ(versionTimes100(row.text), row.expected) << row.text;
}

// Only decimal text is a number: it ends at the first character that does not
// fit, and forms that C99's strtod also reads (hexadecimal, infinity, NaN) are
// no number at all, or the decimal 0 in front of other text.
TEST(VersionTimes100, ReadsDecimalTextOnly) {
    struct Row { const char* text; int32_t expected; } rows[] = {
        {"0x10", 0}, {"0X1A", 0}, {"-0x10", 0}, {" +0x10", 0}, {"0x", 0}, {"0x.8p1", 0},
        {"00x10", 0}, {"0.0x1", 0}, {"1x10", 100},
        {"inf", 0}, {"-INF", 0}, {"infinity", 0}, {"nan", 0}, {"NAN(1)", 0}, {"-nan", 0},
        {"+", 0}, {"-", 0}, {".", 0}, {"-.", 0}, {"+.e1", 0}, {"e5", 0},
        {" \t\n\v\f\r", 0}, {" \t\n\v\f\r1.5", 150}, {"\x01" "1.5", 0},
        {".5", 50}, {"5.", 500}, {"+1.1", 110}, {"1,5", 100},
        {"1e2", 10000}, {"1.5E-1", 15}, {"2.5e+0", 250}, {"1e", 100}, {"1e+", 100}, {"1e-x", 100},
        {"1e-400", 0}, {"-1e-400", 0},
    };
    for (const Row& row : rows) EXPECT_EQ(versionTimes100(row.text), row.expected) << row.text;
}

TEST(VersionTimes100, ClampsValuesOutsideTheIntegerRange) {
    EXPECT_EQ(versionTimes100("1e300"), INT32_MAX);
    EXPECT_EQ(versionTimes100("-1e300"), INT32_MIN);
    EXPECT_EQ(versionTimes100("1e400"), INT32_MAX);  // beyond double: infinity
    EXPECT_EQ(versionTimes100("-1e400"), INT32_MIN);
    EXPECT_EQ(versionTimes100("21474836.47"), 2147483647);
    EXPECT_EQ(versionTimes100(("1" + std::string(300, '0')).c_str()), INT32_MAX);
}

// The value is the correctly rounded double of the decimal text, however many
// digits it has: the expected values are the compiler's own correctly rounded
// literals, or exact powers of two.
TEST(VersionDisplayValue, IsTheCorrectlyRoundedDecimalValue) {
    const std::string zeros280(280, '0');
    struct Row { std::string text; double expected; } rows[] = {
        {"1.15", 1.15},
        {"0x10", 0.0},
        {"2.01 beta", 2.01},
        {"123456789012345678901234567890e-20", 1234567890.1234567890123456789},
        {"2.2250738585072011e-308", 2.2250738585072011e-308},
        {"4.9406564584124654e-324", 4.9406564584124654e-324},
        {"1" + std::string(299, '0'), 1e299},
        {"0." + std::string(299, '0') + "1", 1e-300},
        // 2^53 + 1 lies halfway between two doubles and rounds to the even one...
        {"9007199254740993", 9007199254740992.0},
        // ...unless a digit far beyond the 17th makes it more than half.
        {"9007199254740993" + zeros280 + "1e-281", 9007199254740994.0},
        {"9007199254740993." + zeros280 + "1", 9007199254740994.0},
        {"0.9007199254740993" + zeros280 + "1e16", 9007199254740994.0},
    };
    for (const Row& row : rows) {
        const double value = versionDisplayValue(row.text.c_str());
        EXPECT_EQ(std::memcmp(&value, &row.expected, sizeof value), 0)
            << row.text.substr(0, 40) << ": " << value << " instead of " << row.expected;
    }
}

TEST(VersionDisplayValue, NoNumberIsZero) {
    for (const char* text : {"", " ", "inf", "nan", "+", ".", "x1"}) {
        EXPECT_EQ(versionDisplayValue(text), 0.0) << text;
    }
    EXPECT_TRUE(std::signbit(versionDisplayValue("-0x10")));  // as "-0" reads
}

TEST(FormatFileVersion, TakesTheFirstTwoFields) {
    struct Row { const char* source; size_t capacity; const char* expected; } rows[] = {
        {"2,0,0,0", 6, "2.0"}, {"10,25,1,0", 6, "10.25"}, {",,3,,4", 6, "3.4"},
        {"7", 6, "7.0"}, {"", 6, "0.0"}, {"x,y", 6, "0.0"}, {"123,456", 6, "123.4"},
        {"99999999999,1", 32, "2147483647.1"},
    };
    for (const Row& row : rows) {
        char destination[32];
        std::memset(destination, 'z', sizeof destination);
        formatFileVersion(destination, row.source, row.capacity);
        EXPECT_STREQ(destination, row.expected) << row.source;
    }
}

TEST(FormatFileVersion, OverlongSourceIsCutNotOverrun) {
    char source[400];
    std::memset(source, '9', sizeof source - 1);
    source[sizeof source - 1] = '\0';
    char destination[6];
    formatFileVersion(destination, source, sizeof destination);
    EXPECT_EQ(std::strlen(destination), 5u);
}
