// The legacy driver check against the real registry of the test prefix: only an
// entry in the 32-bit view counts.
#include <gtest/gtest.h>
#include <windows.h>

#include "MessageRecorder.h"
#include "checks/LegacyDriverCheck.h"

namespace {

const char driverKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Rainbow Sentinel Driver";

void createKey(REGSAM view, bool withValue) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, driverKey, 0, nullptr, 0, KEY_ALL_ACCESS | view,
                              nullptr, &key, nullptr), ERROR_SUCCESS);
    if (withValue) RegSetValueExA(key, "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>("S"), 2);
    RegCloseKey(key);
}

void deleteKeys() {
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, driverKey, KEY_WOW64_32KEY, 0);
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, driverKey, KEY_WOW64_64KEY, 0);
}

// No driver entry outlives a test, however it ends: a left one would stop every
// later detection.
class LegacyDriverCheck : public testing::Test {
protected:
    void TearDown() override { deleteKeys(); }
};

}  // namespace

TEST_F(LegacyDriverCheck, OnlyAnEntryInThe32BitViewStopsTheRun) {
    struct Row { const char* name; REGSAM view; bool withValue; int32_t goOn; } rows[] = {
        {"absent", 0, false, 1},
        {"32-bit view, no values", KEY_WOW64_32KEY, false, 0},
        {"32-bit view, with a value", KEY_WOW64_32KEY, true, 0},
        {"64-bit view only", KEY_WOW64_64KEY, true, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        deleteKeys();
        if (row.view != 0) createKey(row.view, row.withValue);
        MessageRecorder recorder;
        int32_t goOn = -5;
        EXPECT_EQ(legacyDriverCheck(goOn), 0);
        deleteKeys();
        EXPECT_EQ(goOn, row.goOn);
        if (row.goOn == 1) {
            EXPECT_TRUE(recorder.boxes.empty());
            continue;
        }
        ASSERT_EQ(recorder.boxes.size(), 1u);
        EXPECT_EQ(recorder.boxes[0].text,
                  "Cannot upgrade Sentinel driver. Please remove all Sentinel hardware keys from "
                  "computer and uninstall 'Sentinel System Driver' via Add/Remove Programs then "
                  "restart installation.");
        EXPECT_EQ(recorder.boxes[0].caption, "Setup");
        EXPECT_EQ(recorder.boxes[0].style, static_cast<unsigned>(MB_OK | MB_ICONWARNING));
    }
}
