#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/UserTexts.h"
#include "ui/ConfirmationRules.h"

TEST(ConfirmationRules, OnlyTheExactProductCodeMatches) {
    struct Row { const char* code; const char* mismatch; } rows[] = {
        {"3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13", nullptr},
        {"", textProductCodeMissing},
        {"3f1b7c2a-9d4e-4b6a-8c21-5e0d7a9b4c13", textProductCodeForeign},
        {"{3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13}", textProductCodeForeign},
        {" 3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13", textProductCodeForeign},
        {"3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13 ", textProductCodeForeign},
        {"3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C1", textProductCodeForeign},
        {"00000000-0000-0000-0000-000000000000", textProductCodeForeign},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(productCodeMatches(row.code), row.mismatch == nullptr) << row.code;
        EXPECT_EQ(productCodeMismatchText(row.code), row.mismatch) << row.code;
    }
}

TEST(ConfirmationRules, TextNamesProductAndVersionAndAlwaysFits) {
    char text[501];
    formatConfirmationText(text, sizeof text, "Korvane", "2.0");
    EXPECT_STREQ(text,
                 "Korvane v.2.0 is about to be installed. Your computer may restart during "
                 "installation. Please save any unsaved files before continuing. Click 'Install' "
                 "to begin installation or 'Cancel' to exit.");
    const std::string longest(260, 'K');
    formatConfirmationText(text, sizeof text, longest.c_str(), "2.0");
    EXPECT_EQ(std::strlen(text), 447u);
    formatConfirmationText(text, sizeof text, "", "2.0");
    EXPECT_EQ(std::string(text).rfind(" v.2.0 is about", 0), 0u);
}

TEST(ConfirmationRules, DialogEndsMapToStatusCancelledAndOneReport) {
    struct Row { intptr_t end; int32_t status; int32_t cancelled; bool report; } rows[] = {
        {confirmationInstall, 0, 0, false},
        {confirmationCancel, 0, 1, false},
        {confirmationNotCreated, -1, 0, true},
        {confirmationFailedAndReported, -1, 0, false},
        {1, 0, 0, false},  // any other end counts as Install
    };
    for (const Row& row : rows) {
        const ConfirmationOutcome outcome = mapConfirmationEnd(row.end);
        EXPECT_EQ(outcome.status, row.status) << row.end;
        EXPECT_EQ(outcome.cancelled, row.cancelled) << row.end;
        EXPECT_EQ(outcome.reportLastError, row.report) << row.end;
    }
}
