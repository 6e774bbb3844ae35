#include <gtest/gtest.h>

#include "checks/OsRules.h"

namespace {

constexpr uint8_t workstation = 1;
constexpr uint8_t domainController = 2;
constexpr uint8_t server = 3;

}  // namespace

TEST(OsRules, SupportedDesktopEditionsPassAndOthersDoNot) {
    struct Row { const char* name; OsFacts system; bool supported; } rows[] = {
        {"Vista SP0", {6, 0, 0, 0, workstation}, false},
        {"Vista SP1", {6, 0, 1, 0, workstation}, false},
        {"Vista SP2", {6, 0, 2, 0, workstation}, true},
        {"Vista SP3", {6, 0, 3, 0, workstation}, true},
        {"7 SP0", {6, 1, 0, 0, workstation}, false},
        {"7 SP0.5", {6, 1, 0, 5, workstation}, false},
        {"7 SP1", {6, 1, 1, 0, workstation}, true},
        {"8", {6, 2, 0, 0, workstation}, true},
        {"8.1", {6, 3, 0, 0, workstation}, true},
        {"8.1 SP1", {6, 3, 1, 0, workstation}, true},
        {"6.4", {6, 4, 0, 0, workstation}, true},
        {"10", {10, 0, 0, 0, workstation}, true},
        {"7.0 (major above 6, minor below 3)", {7, 0, 0, 0, workstation}, true},
        {"XP", {5, 1, 3, 0, workstation}, false},
        {"5.9 with a big service pack", {5, 9, 9, 9, workstation}, false},
        {"Server 2008 SP2", {6, 0, 2, 0, server}, false},
        {"Server 2008 R2 SP1", {6, 1, 1, 0, server}, false},
        {"Server 2012", {6, 2, 0, 0, server}, false},
        {"Server 2012 R2", {6, 3, 0, 0, server}, false},
        {"Server 2016 domain controller", {10, 0, 0, 0, domainController}, false},
        {"Server 2016", {10, 0, 0, 0, server}, false},
    };
    for (const Row& row : rows) EXPECT_EQ(osFactsSupported(row.system), row.supported) << row.name;
}

TEST(OsRules, EachSystemPassesOnlyItsOwnRow) {
    // Which row holds, by index; -1 for none. The equal rows never reach past
    // their own version, the at-least row never back below 6.3.
    struct Row { OsFacts system; int rowThatHolds; } rows[] = {
        {{6, 0, 2, 0, workstation}, 0}, {{6, 1, 1, 0, workstation}, 1},
        {{6, 2, 0, 0, workstation}, 2}, {{6, 2, 1, 0, workstation}, 2},
        {{6, 3, 0, 0, workstation}, 3}, {{10, 0, 0, 0, workstation}, 3},
        {{6, 1, 0, 0, workstation}, -1},
    };
    for (const Row& row : rows) {
        for (size_t i = 0; i < supportedOsRowCount; ++i)
            EXPECT_EQ(osRowHolds(supportedOsTable[i], row.system), static_cast<int>(i) == row.rowThatHolds)
                << row.system.major << "." << row.system.minor << " row " << i;
    }
}
