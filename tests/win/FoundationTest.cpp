// The spine under Wine: the error box, the record's life, the launch stage and
// the resources linked into the program.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "MessageRecorder.h"
#include "app/SetupApp.h"
#include "core/SetupState.h"
#include "core/SystemError.h"
#include "core/Version.h"
#include "res/ResourceIds.h"
#include "run/LaunchInstaller.h"

TEST(ReportSystemError, ShowsTheSystemTextAndReturnsTheCode) {
    MessageRecorder recorder;
    EXPECT_EQ(reportSystemError(ERROR_FILE_NOT_FOUND), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reportSystemError(258), 258);
    EXPECT_EQ(reportSystemError(0x2ffffff), 0x2ffffff);  // no system text for it
    ASSERT_EQ(recorder.boxes.size(), 3u);
    for (const RecordedBox& box : recorder.boxes) {
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.style, static_cast<unsigned>(MB_OK | MB_ICONERROR));
        EXPECT_FALSE(box.text.empty());
    }
    EXPECT_NE(recorder.boxes[0].text.find("not found"), std::string::npos) << recorder.boxes[0].text;
}

static DWORD WINAPI reportFromThread(void*) {
    return static_cast<DWORD>(reportSystemError(ERROR_ACCESS_DENIED));
}

TEST(ReportSystemError, WorksFromAnotherThread) {
    MessageRecorder recorder;
    HANDLE thread = CreateThread(nullptr, 0, reportFromThread, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(recorder.boxes.size(), 1u);
}

TEST(SetupStateRecord, StartsZeroFilledAndIsReleased) {
    SetupState* state = nullptr;
    ASSERT_EQ(allocateSetupState(state), 0);
    ASSERT_NE(state, nullptr);
    const auto* bytes = reinterpret_cast<const unsigned char*>(state);
    for (size_t i = 0; i < sizeof(SetupState); ++i) ASSERT_EQ(bytes[i], 0) << i;
    releaseSetupState(state);
    EXPECT_EQ(state, nullptr);
    releaseSetupState(state);  // a null reference is left alone
}

TEST(SetupStateRecord, AllocationFailureIsReportedAndLeavesTheReference) {
    MessageRecorder recorder;
    setAllocatorHook([](size_t, size_t) -> void* { return nullptr; });
    SetupState* untouched = reinterpret_cast<SetupState*>(0x1234);
    EXPECT_EQ(allocateSetupState(untouched), -1);
    setAllocatorHook(nullptr);
    EXPECT_EQ(untouched, reinterpret_cast<SetupState*>(0x1234));
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].text, "Error allocating memory.");
    EXPECT_EQ(recorder.boxes[0].caption, "Error");
    EXPECT_EQ(recorder.boxes[0].style, static_cast<unsigned>(MB_OK | MB_ICONERROR));
}

TEST(SetupSequence, AllocationFailureRunsNoStage) {
    MessageRecorder recorder;
    setAllocatorHook([](size_t, size_t) -> void* { return nullptr; });
    theApplication().SetupSequence();
    setAllocatorHook(nullptr);
    ASSERT_EQ(recorder.boxes.size(), 1u);  // no stage showed anything
}

namespace {

struct LaunchCase {
    SetupState state{};
    std::string directory;
};

// A folder of its own with extsetup.exe (a copy of a harmless system program
// that exits at once) when wanted.
std::string makeMedium(const char* name, bool withInstaller) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string directory = std::string(temp) + name + "\\";
    CreateDirectoryA(directory.c_str(), nullptr);
    std::string installer = directory + "extsetup.exe";
    DeleteFileA(installer.c_str());
    if (withInstaller) {
        char system[MAX_PATH];
        GetSystemDirectoryA(system, sizeof system);
        CopyFileA((std::string(system) + "\\hostname.exe").c_str(), installer.c_str(), FALSE);
    }
    return directory;
}

}  // namespace

TEST(LaunchInstaller, StartsNothingWhenStoppedOrUninstallOnly) {
    MessageRecorder recorder;
    SetupState state{};
    std::strcpy(state.setupDirectory, "C:\\nowhere\\");
    state.stopSetup = 1;
    EXPECT_EQ(launchInstaller(state), 0);
    state.stopSetup = 0;
    state.uninstallOnly = 1;
    EXPECT_EQ(launchInstaller(state), 0);
    EXPECT_TRUE(recorder.boxes.empty());
}

TEST(LaunchInstaller, MissingInstallerShowsTheSystemErrorAndReturnsItsCode) {
    MessageRecorder recorder;
    SetupState state{};
    std::string directory = makeMedium("korvane-launch-missing", false);
    std::strcpy(state.setupDirectory, directory.c_str());
    EXPECT_EQ(launchInstaller(state), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].caption, "Error");
}

TEST(LaunchInstaller, StartsTheInstallerBesideTheLauncher) {
    MessageRecorder recorder;
    SetupState state{};
    std::string directory = makeMedium("korvane-launch-present", true);
    std::strcpy(state.setupDirectory, directory.c_str());
    EXPECT_EQ(launchInstaller(state), 0);
    EXPECT_TRUE(recorder.boxes.empty());
}

TEST(LaunchInstaller, PathCutAt260IsRefusedNotStarted) {
    MessageRecorder recorder;
    SetupState state{};
    std::string directory = "C:\\" + std::string(250, 'a') + "\\";
    std::strcpy(state.setupDirectory, directory.c_str());
    EXPECT_EQ(launchInstaller(state), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_EQ(recorder.boxes.size(), 1u);
}

TEST(Resources, BannerIsA469By141TwentyFourBitBitmap) {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(IDB_BANNER), reinterpret_cast<LPCSTR>(RT_BITMAP));
    ASSERT_NE(resource, nullptr);
    EXPECT_EQ(SizeofResource(nullptr, resource), 198568u);
    const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(nullptr, resource)));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->biSize, 40u);
    EXPECT_EQ(header->biWidth, 469);
    EXPECT_EQ(header->biHeight, 141);
    EXPECT_EQ(header->biPlanes, 1);
    EXPECT_EQ(header->biBitCount, 24);
    EXPECT_EQ(header->biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(header->biSizeImage, 198528u);
    EXPECT_EQ(header->biXPelsPerMeter, 11811);
    EXPECT_EQ(header->biYPelsPerMeter, 11811);
}

TEST(Resources, IconGroupHoldsFiveThirtyTwoBitImages) {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(IDI_KORVANE), reinterpret_cast<LPCSTR>(RT_GROUP_ICON));
    ASSERT_NE(resource, nullptr);
    const auto* group = static_cast<const unsigned char*>(LockResource(LoadResource(nullptr, resource)));
    uint16_t count = static_cast<uint16_t>(group[4] | group[5] << 8);
    ASSERT_EQ(count, 5);
    const int sizes[] = {16, 32, 48, 64, 128};
    for (int i = 0; i < 5; ++i) {
        const unsigned char* entry = group + 6 + 14 * i;  // GRPICONDIRENTRY
        EXPECT_EQ(entry[0], sizes[i]);
        EXPECT_EQ(entry[6] | entry[7] << 8, 32);
    }
}

TEST(Resources, ManifestAsksForNoElevationAndDeclaresDpiAwareness) {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(1), reinterpret_cast<LPCSTR>(RT_MANIFEST));
    ASSERT_NE(resource, nullptr);
    std::string manifest(static_cast<const char*>(LockResource(LoadResource(nullptr, resource))),
                         SizeofResource(nullptr, resource));
    EXPECT_NE(manifest.find("level=\"asInvoker\" uiAccess=\"false\""), std::string::npos);
    EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
    EXPECT_EQ(manifest.find("Common-Controls"), std::string::npos);
}

TEST(VersionOnWindows, DoublePrecisionTableHoldsUnderThisCompiler) {
    EXPECT_EQ(versionTimes100("1.15"), 114);
    EXPECT_EQ(versionTimes100("2.01"), 200);
    EXPECT_EQ(versionTimes100("1.10"), 110);
    char display[displayVersionCapacity];
    formatFileVersion(display, builtInVersionText, sizeof display);
    EXPECT_STREQ(display, "2.0");
}
