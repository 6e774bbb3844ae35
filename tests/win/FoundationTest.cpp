// The spine under Wine: the error box, the record's life, the launch stage and
// the resources linked into the program.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "MessageRecorder.h"
#include "Seams.h"
#include "app/SetupApp.h"
#include "core/SetupState.h"
#include "core/SystemError.h"
#include "core/UserTexts.h"
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
    SetupState* untouched = reinterpret_cast<SetupState*>(0x1234);
    {
        AllocatorGuard failing([](size_t, size_t) -> void* { return nullptr; });
        EXPECT_EQ(allocateSetupState(untouched), -1);
    }
    EXPECT_EQ(untouched, reinterpret_cast<SetupState*>(0x1234));
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].text, "Error allocating memory.");
    EXPECT_EQ(recorder.boxes[0].caption, "Error");
    EXPECT_EQ(recorder.boxes[0].style, static_cast<unsigned>(MB_OK | MB_ICONERROR));
}

TEST(SetupSequence, AllocationFailureRunsNoStage) {
    MessageRecorder recorder;
    AllocatorGuard failing([](size_t, size_t) -> void* { return nullptr; });
    theApplication().SetupSequence();
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

namespace {

std::string shellVerb, shellFile, shellDirectory;
bool shellParameters = true;
BOOL shellAnswer = TRUE;

// Every drive a share the user mapped, as a program of the user's logon
// session sees it.
UINT WINAPI mappedDrive(LPCSTR) { return DRIVE_REMOTE; }
DWORD WINAPI mappedToShare(LPCSTR, LPSTR share, LPDWORD size) {
    lstrcpynA(share, "\\\\server\\share", static_cast<int>(*size));
    return NO_ERROR;
}

BOOL WINAPI answeredShellStart(SHELLEXECUTEINFOA* info) {
    shellVerb = info->lpVerb != nullptr ? info->lpVerb : "";
    shellFile = info->lpFile != nullptr ? info->lpFile : "";
    shellDirectory = info->lpDirectory != nullptr ? info->lpDirectory : "";
    shellParameters = info->lpParameters != nullptr;
    SetLastError(shellAnswer ? 0 : ERROR_CANCELLED);
    return shellAnswer;
}

}  // namespace

// An installer that needs administrator rights is started through the shell
// with the verb "runas", as it is (the shell gives no handle: none is needed);
// without consent nothing starts and one box says why. From a drive the user
// mapped, which the elevated installer would not have, it is started by the
// share's own name, in the current directory by that name.
TEST(LaunchInstaller, AnInstallerThatNeedsElevationAsksForConsent) {
    SetupState state{};
    std::string directory = makeMedium("korvane-launch-elevated", true);
    std::strcpy(state.setupDirectory, directory.c_str());
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    struct Case {
        const char* name;
        BOOL consent;
        bool mapped;
    };
    const Case cases[] = {{"consent given", TRUE, false},
                          {"consent not given", FALSE, false},
                          {"from a mapped drive", TRUE, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        programCreations = 0;
        shellAnswer = c.consent;
        ProgramStartCallsGuard start(
            {nullptr, nullptr, nullptr, nullptr, needsElevationOnce, answeredShellStart});
        const MappedDriveCalls drives = {mappedDrive, mappedToShare};
        MappedDriveCallsGuard mapped(c.mapped ? &drives : nullptr);
        MessageRecorder recorder;
        EXPECT_EQ(launchInstaller(state), c.consent ? 0 : ERROR_CANCELLED);
        EXPECT_EQ(shellVerb, "runas");
        const std::string share = "\\\\server\\share";
        EXPECT_EQ(shellFile,
                  c.mapped ? share + directory.substr(2) + "extsetup.exe" : directory + "extsetup.exe");
        EXPECT_EQ(shellDirectory, c.mapped ? share + (current + 2) : "");
        EXPECT_FALSE(shellParameters);
        if (c.consent) {
            EXPECT_TRUE(recorder.boxes.empty());
        } else {
            ASSERT_EQ(recorder.boxes.size(), 1u);
            EXPECT_EQ(recorder.boxes[0].text, textConsentRefused);
        }
    }
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
    HRSRC resource =
        FindResourceA(nullptr, MAKEINTRESOURCEA(IDB_BANNER), reinterpret_cast<LPCSTR>(RT_BITMAP));
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
    HRSRC resource =
        FindResourceA(nullptr, MAKEINTRESOURCEA(IDI_KORVANE), reinterpret_cast<LPCSTR>(RT_GROUP_ICON));
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

// The reading in the Windows build, on the x87 unit: decimal only (no C99
// hexadecimal, infinity or NaN), and long digit strings correctly rounded.
TEST(VersionOnWindows, DecimalOnlyAndCorrectlyRoundedWithThisRuntime) {
    struct Row {
        const char* text;
        int32_t times100;
    } rows[] = {
        {"0x10", 0}, {"-0X1A", 0}, {"inf", 0},     {"nan", 0},     {"", 0},
        {"-", 0},    {".", 0},     {" \t\r\n", 0}, {"1e2", 10000}, {"1.15", 114},
    };
    for (const Row& row : rows) EXPECT_EQ(versionTimes100(row.text), row.times100) << row.text;
    // 2^53 + 1 is halfway between two doubles: even without more, up with a far digit.
    const std::string halfway = "9007199254740993";
    EXPECT_EQ(versionDisplayValue(halfway.c_str()), 9007199254740992.0);
    EXPECT_EQ(versionDisplayValue((halfway + "." + std::string(280, '0') + "1").c_str()), 9007199254740994.0);
    EXPECT_EQ(versionDisplayValue(("1" + std::string(299, '0')).c_str()), 1e299);
    EXPECT_EQ(versionDisplayValue("2.2250738585072011e-308"), 2.2250738585072011e-308);
}

namespace {

using GetFileVersionInfoSizeFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
using GetFileVersionInfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
using VerQueryValueFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

// The launcher beside the test program's build: build/<preset>/KorvaneSetup.exe,
// the tests being in build/<preset>/tests/win/.
std::string builtLauncher() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder = path;
    for (int i = 0; i < 3; ++i) folder.erase(folder.find_last_of('\\'));
    return folder + "\\KorvaneSetup.exe";
}

}  // namespace

// The version block is compiled from the same definition as the built-in
// version: both say what the product file says, in every place.
TEST(Resources, VersionBlockOfTheBuiltLauncherAgreesWithTheBuiltInVersion) {
    const std::string launcher = builtLauncher();
    ASSERT_NE(GetFileAttributesA(launcher.c_str()), INVALID_FILE_ATTRIBUTES) << launcher << " is not built";
    HMODULE library = LoadLibraryA("version.dll");
    ASSERT_NE(library, nullptr);
    auto infoSize = reinterpret_cast<GetFileVersionInfoSizeFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "GetFileVersionInfoSizeA")));
    auto info = reinterpret_cast<GetFileVersionInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "GetFileVersionInfoA")));
    auto query =
        reinterpret_cast<VerQueryValueFn>(reinterpret_cast<void*>(GetProcAddress(library, "VerQueryValueA")));
    ASSERT_TRUE(infoSize && info && query);
    DWORD handle = 0;
    const DWORD size = infoSize(launcher.c_str(), &handle);
    ASSERT_GT(size, 0u) << launcher << " has no version block";
    std::string block(size, '\0');
    ASSERT_TRUE(info(launcher.c_str(), 0, size, &block[0]));

    unsigned numbers[4] = {};
    ASSERT_EQ(
        std::sscanf(builtInVersionText, "%u,%u,%u,%u", &numbers[0], &numbers[1], &numbers[2], &numbers[3]), 4)
        << builtInVersionText;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(query(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, numbers[0] << 16 | numbers[1]);
    EXPECT_EQ(fixed->dwFileVersionLS, numbers[2] << 16 | numbers[3]);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

    const struct {
        const char* name;
        std::string value;
    } strings[] = {
        {"FileVersion", builtInVersionText},  {"ProductVersion", builtInVersionText},
        {"FileDescription", "KorvaneSetup"},  {"ProductName", "KorvaneSetup"},
        {"InternalName", "KorvaneSetup.exe"}, {"OriginalFilename", "KorvaneSetup.exe"},
    };
    for (const auto& entry : strings) {
        char* value = nullptr;
        const std::string key = std::string("\\StringFileInfo\\040904b0\\") + entry.name;
        ASSERT_TRUE(query(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
            << entry.name;
        EXPECT_EQ(std::string(value), entry.value) << entry.name;
    }
    WORD* translation = nullptr;
    ASSERT_TRUE(
        query(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);

    // What the launcher shows as its version is what its file says it is.
    char display[displayVersionCapacity];
    formatFileVersion(display, builtInVersionText, sizeof display);
    EXPECT_EQ(std::string(display), std::to_string(numbers[0]) + "." + std::to_string(numbers[1]));
    FreeLibrary(library);
}
