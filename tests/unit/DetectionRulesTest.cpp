#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "checks/DetectionRules.h"

namespace {

constexpr int yes = 6;
constexpr int ok = 1;

const char* relationName(InstalledRelation relation) {
    switch (relation) {
    case InstalledRelation::same: return "same";
    case InstalledRelation::older: return "older";
    case InstalledRelation::newer: return "newer";
    }
    return "?";
}

}  // namespace

TEST(DetectionRules, InstalledVersionComparesAsFlooredHundredths) {
    struct Row { const char* installed; InstalledRelation relation; const char* shown; } rows[] = {
        {"2.00", InstalledRelation::same, "2.00"},
        {"2", InstalledRelation::same, "2.00"},
        {"2.0.5", InstalledRelation::same, "2.00"},
        {"2.01", InstalledRelation::same, "2.01"},  // 200.99999999999997 floors to 200
        {"1.1", InstalledRelation::older, "1.10"},
        {"1.999", InstalledRelation::older, "2.00"},  // compares 199, shows rounded
        {"", InstalledRelation::older, "0.00"},       // absent "DisplayVersion"
        {"\x02", InstalledRelation::older, "0.00"},   // a DWORD's bytes read as text
        {"2.1", InstalledRelation::newer, "2.10"},
        {"10", InstalledRelation::newer, "10.00"},
        // Decimal text only: what C99's strtod would read as 16, infinity or NaN
        // is an older copy, shown as 0.00.
        {"0x10", InstalledRelation::older, "(0.00)"},
        {"inf", InstalledRelation::older, "(0.00)"},
        {"nan", InstalledRelation::older, "(0.00)"},
        {"  \t", InstalledRelation::older, "(0.00)"},
        {"2e0", InstalledRelation::same, "2.00"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(relationName(relateInstalledVersion(row.installed, "2.0")), relationName(row.relation))
            << row.installed;
        char prompt[501];
        formatInstalledPrompt(prompt, sizeof prompt, row.relation, "Korvane", row.installed);
        EXPECT_NE(std::string(prompt).find(row.shown), std::string::npos) << prompt;
    }
}

// The version shows as the Microsoft run-time's "%.2f" shows it: the double's
// value to 17 significant digits, then two decimals, each rounded half up. Exact
// ties round away from zero (C99's printf rounds 1.125 to even: 1.12); a text
// just below a tie shows below it; zeros follow the 17th digit.
TEST(DetectionRules, PromptShowsTheVersionAsTheRuntimeRoundsIt) {
    struct Row { const char* installed; const char* shown; } rows[] = {
        {"1.125", "(1.13)"},   // exact in binary
        {"0.125", "(0.13)"},
        {"-0.125", "(-0.13)"},
        {"0.005", "(0.01)"},   // 0.005000000000000000104
        {"2.005", "Korvane 2.00 already"},  // 2.00499999999999989...
        {"2.675", "(2.67)"},   // 2.67499999999999982...
        {"1.075", "(1.08)"},   // 1.07499999999999995559: 17 digits 1.0750000000000000
        {"1208925819614629174706176", "(1208925819614629200000000.00)"},  // 2^80
        {"1e400", "(1.#J)"},   // beyond double: the run-time's text for infinity
    };
    for (const Row& row : rows) {
        const InstalledRelation relation = relateInstalledVersion(row.installed, "2.0");
        char prompt[501];
        formatInstalledPrompt(prompt, sizeof prompt, relation, "Korvane", row.installed);
        EXPECT_NE(std::string(prompt).find(row.shown), std::string::npos) << row.installed << ": " << prompt;
    }
}

TEST(DetectionRules, PromptsAreFormattedWithTheirStyles) {
    char prompt[501];
    formatInstalledPrompt(prompt, sizeof prompt, InstalledRelation::same, "Korvane", "2.00");
    EXPECT_STREQ(prompt,
                 "Korvane 2.00 already exists on your system. Would you like to uninstall your "
                 "software now?");
    formatInstalledPrompt(prompt, sizeof prompt, InstalledRelation::older, "?", "1.1");
    EXPECT_STREQ(prompt,
                 "An older version of ? (1.10) has been detected. Would you like to upgrade your "
                 "software now?");
    formatInstalledPrompt(prompt, sizeof prompt, InstalledRelation::newer, "Korvane", "2.1");
    EXPECT_EQ(std::string(prompt).rfind("A newer version of Korvane (2.10) has been detected. You must "
                                        "first uninstall", 0), 0u) << prompt;
    EXPECT_EQ(promptFor(InstalledRelation::same).style, 0x134u);
    EXPECT_EQ(promptFor(InstalledRelation::older).style, 0x134u);
    EXPECT_EQ(promptFor(InstalledRelation::newer).style, 0u);
}

TEST(DetectionRules, LongNamesAreCutAtTheLastUsableByte) {
    const std::string name(260, 'N');
    for (InstalledRelation relation :
         {InstalledRelation::same, InstalledRelation::older, InstalledRelation::newer}) {
        char prompt[501];
        std::memset(prompt, 'z', sizeof prompt);
        formatInstalledPrompt(prompt, sizeof prompt, relation, name.c_str(), "1e300");
        EXPECT_EQ(std::strlen(prompt), 500u) << relationName(relation);
    }
}

TEST(DetectionRules, OnlyYesConsentsAndTheNewerNoticeAlwaysStops) {
    struct Row { InstalledRelation relation; int answer; InstalledDecision expected; } rows[] = {
        {InstalledRelation::same, yes, {false, true, false, true}},
        {InstalledRelation::same, 7, {true, false, false, false}},
        {InstalledRelation::same, ok, {true, false, false, false}},  // not an answer to the question
        {InstalledRelation::same, 0, {true, false, false, false}},   // the box failed
        {InstalledRelation::older, yes, {false, false, true, true}},
        {InstalledRelation::older, 7, {true, false, false, false}},
        {InstalledRelation::older, 2, {true, false, false, false}},  // Escape or the close button
        {InstalledRelation::newer, ok, {true, false, false, false}},
        {InstalledRelation::newer, yes, {true, false, false, false}},
    };
    for (const Row& row : rows) {
        const InstalledDecision got = decideInstalledCopy(row.relation, row.answer);
        SCOPED_TRACE(std::string(relationName(row.relation)) + " answer " + std::to_string(row.answer));
        EXPECT_EQ(got.stop, row.expected.stop);
        EXPECT_EQ(got.uninstallOnly, row.expected.uninstallOnly);
        EXPECT_EQ(got.upgradeMode, row.expected.upgradeMode);
        EXPECT_EQ(got.runInstalledSetup, row.expected.runInstalledSetup);
    }
}

TEST(DetectionRules, RegistryBytesAreTerminatedWithinTheBuffer) {
    struct Row { size_t bytesRead; size_t length; } rows[] = {
        {0, 0},      // an empty value of any type
        {4, 4},      // a DWORD without terminator
        {11, 10},    // a string with its terminator: ends there
        {260, 260},  // 260 characters stored without terminator
        {261, 260},  // 261 bytes without terminator: cut, never read past
        {9999, 260}, // a size larger than the buffer is never trusted
    };
    for (const Row& row : rows) {
        char buffer[261];
        std::memset(buffer, 'v', sizeof buffer);
        if (row.bytesRead == 11) buffer[10] = '\0';
        terminateRegistryText(buffer, sizeof buffer, row.bytesRead);
        EXPECT_EQ(strnlen(buffer, sizeof buffer), row.length) << row.bytesRead;
    }
}

TEST(DetectionRules, AValueIsWholeWhenItsEndIsInTheBuffer) {
    struct Row { size_t bytesRead; int terminatorAt; bool whole; } rows[] = {
        {0, -1, true},     // empty
        {11, 10, true},    // a string with its terminator
        {260, -1, true},   // 260 characters stored without terminator: all there
        {261, 260, true},  // 260 characters and the terminator: the fullest whole value
        {261, 3, true},    // a multi-string: the first string ends inside
        {261, -1, false},  // 261 bytes without terminator: more may follow
    };
    for (const Row& row : rows) {
        char buffer[261];
        std::memset(buffer, 'v', sizeof buffer);
        if (row.terminatorAt >= 0) buffer[row.terminatorAt] = '\0';
        EXPECT_EQ(registryTextIsWhole(buffer, sizeof buffer, row.bytesRead), row.whole) << row.bytesRead;
    }
}

TEST(DetectionRules, UninstallKeyPathNamesTheCodeInBraces) {
    char path[261];
    ASSERT_TRUE(composeUninstallKeyPath(path, sizeof path, "3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13"));
    EXPECT_STREQ(path,
                 "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                 "{3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13}");
    const std::string tooLong(207, 'X');  // 52 + 2 + 207 = 261: one byte too many
    EXPECT_FALSE(composeUninstallKeyPath(path, sizeof path, tooLong.c_str()));
    EXPECT_TRUE(composeUninstallKeyPath(path, sizeof path, tooLong.substr(1).c_str()));
}
