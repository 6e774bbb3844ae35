#include <gtest/gtest.h>

#include <climits>
#include <cstring>

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

TEST(VersionTimes100, ClampsValuesOutsideTheIntegerRange) {
    EXPECT_EQ(versionTimes100("1e300"), INT32_MAX);
    EXPECT_EQ(versionTimes100("-1e300"), INT32_MIN);
    EXPECT_EQ(versionTimes100("21474836.47"), 2147483647);
    EXPECT_EQ(versionTimes100("nan"), 0);
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
