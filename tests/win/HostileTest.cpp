// The maintenance run against a hostile or failing environment: a staging
// directory that someone else filled or holds open, staged files locked during
// the clean-up, and a progress dialog that cannot start. Real files under a
// scratch %TEMP% (through TMP), the stand-in installer as the programs started,
// and the stages chained as the launcher chains them.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "MessageRecorder.h"
#include "Seams.h"
#include "TestFiles.h"
#include "app/StageChain.h"
#include "core/FixedNames.h"
#include "core/Module.h"
#include "core/SetupState.h"
#include "core/SystemError.h"
#include "core/UserTexts.h"
#include "run/LaunchInstaller.h"
#include "run/MaintenanceRun.h"
#include "ui/ProgressDialog.h"

namespace {

// The names a started stand-in found beside itself, sorted.
std::vector<std::string> filesSeen(const std::string& line) {
    std::vector<std::string> names;
    size_t at = line.find("\"files\":[");
    if (at == std::string::npos) return names;
    size_t end = line.find(']', at);
    for (size_t i = line.find('"', at + 9); i < end; i = line.find('"', i + 1)) {
        size_t close = line.find('"', i + 1);
        names.push_back(line.substr(i + 1, close - i - 1));
        i = close;
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Held open without any sharing, as a virus scanner or an indexer may hold a
// file: it can be neither deleted nor replaced while the handle is open.
HANDLE lockFile(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// The staged installer's file to lock once it runs, and the lock taken.
std::string lockWhileRunning;
HANDLE lockTaken = INVALID_HANDLE_VALUE;

INT_PTR WINAPI lockingDialogBox(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC procedure,
                                LPARAM parameter) {
    lockTaken = lockFile(lockWhileRunning);
    return DialogBoxParamA(instance, name, owner, procedure, parameter);
}

HANDLE WINAPI failingCreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                  DWORD, LPDWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

class Hostile : public MaintenanceScratch {
public:
    void SetUp() override {
        createScratch("korvane-hostile-test");
        if (HasFatalFailure()) return;
        CopyFileA(standinPath().c_str(), (medium + installerName).c_str(), FALSE);
        upgradeRecord(state);
    }

    void TearDown() override { removeScratch(); }

    // The stand-in's start lines, in order, once at least `wanted` are there (a
    // program the run did not wait for writes its line a moment later), and
    // after a further second in which no other may come.
    std::vector<std::string> starts(size_t wanted) {
        std::vector<std::string> lines;
        for (int waited = 0; waited < 10000; waited += 50) {
            lines.clear();
            std::ifstream in(log);
            std::string line;
            while (std::getline(in, line))
                if (line.find("\"event\":\"start\"") != std::string::npos) lines.push_back(line);
            if (lines.size() >= wanted && waited >= 1000) break;
            Sleep(50);
        }
        return lines;
    }

    // The maintenance run and the launch, chained as in the launcher.
    int32_t runChain() {
        const SetupStage stages[] = {runMaintenance, launchInstaller};
        return runStages(state, stages, 2);
    }

    SetupState state;
};

}  // namespace

// Whatever an earlier run or another program of the user left in the staging
// directory is gone before the staged installer starts; it sees only the files
// this run copied.
TEST_F(Hostile, LeftoverStagingContentsAreRemovedBeforeStaging) {
    struct Case {
        const char* name;
        void (*arrange)(Hostile&);
    };
    const Case cases[] = {
        {"planted DLLs and programs",
         [](Hostile& t) {
             CreateDirectoryA(t.staging.c_str(), nullptr);
             writeFile(t.staging + "\\version.dll", "planted");
             writeFile(t.staging + "\\msi.dll", "planted");
             writeFile(t.staging + "\\setup.exe", "old");
         }},
        {"read-only, hidden and system files",
         [](Hostile& t) {
             CreateDirectoryA(t.staging.c_str(), nullptr);
             const std::pair<const char*, DWORD> files[] = {{"ro.dll", FILE_ATTRIBUTE_READONLY},
                                                            {"hidden.dll", FILE_ATTRIBUTE_HIDDEN},
                                                            {"system.dll", FILE_ATTRIBUTE_SYSTEM}};
             for (const auto& f : files) {
                 writeFile(t.staging + "\\" + f.first, "planted");
                 SetFileAttributesA((t.staging + "\\" + f.first).c_str(), f.second);
             }
         }},
        {"nested subdirectories",
         [](Hostile& t) {
             std::string d = t.staging;
             CreateDirectoryA(d.c_str(), nullptr);
             for (const char* part : {"\\Disk1", "\\sub", "\\deeper"}) {
                 d += part;
                 CreateDirectoryA(d.c_str(), nullptr);
                 writeFile(d + "\\uxtheme.dll", "planted");
             }
             SetFileAttributesA((t.staging + "\\Disk1").c_str(), FILE_ATTRIBUTE_READONLY);
         }},
        {"a file in the directory's place",
         [](Hostile& t) { writeFile(t.staging, "not a directory"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        ASSERT_FALSE(HasFatalFailure());
        c.arrange(*this);
        MessageRecorder recorder;
        EXPECT_EQ(runChain(), 0);
        EXPECT_TRUE(recorder.boxes.empty());
        std::vector<std::string> lines = starts(2);
        ASSERT_EQ(lines.size(), 2u);  // the staged maintenance program, then the new installer
        EXPECT_EQ(filesSeen(lines[0]),
                  (std::vector<std::string>{"data1.cab", "extsetup.exe", "setup.exe", "v1uninst100.iss"}));
        EXPECT_FALSE(exists(staging));
    }
}

// A leftover that cannot be removed gives up its name and the upgrade goes on
// in a fresh directory, beside nothing it did not bring; only a leftover that
// cannot even be renamed stops the run, before anything is copied or started.
TEST_F(Hostile, LeftoverThatCannotBeRemovedIsMovedAsideOrStopsTheRun) {
    struct Case {
        const char* name;
        const char* held;  // opened without delete sharing while the run goes on
        bool runs;
    };
    const Case cases[] = {
        {"a file inside held open", "\\Disk1\\locked.dll", true},
        {"the directory itself held open", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        ASSERT_FALSE(HasFatalFailure());
        CreateDirectoryA(staging.c_str(), nullptr);
        CreateDirectoryA((staging + "\\Disk1").c_str(), nullptr);
        writeFile(staging + "\\Disk1\\locked.dll", "held open");
        HANDLE held =
            CreateFileA((staging + c.held).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        MessageRecorder recorder;
        const int32_t result = runChain();
        const std::vector<std::string> lines = starts(c.runs ? 2 : 0);
        CloseHandle(held);
        std::vector<std::string> aside;
        for (const std::string& name : listDirectory(tmp))
            if (name.rfind(std::string(stagingDirectoryName) + ".old-", 0) == 0) aside.push_back(name);
        if (c.runs) {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(recorder.boxes.empty());
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_EQ(filesSeen(lines[0]), (std::vector<std::string>{"data1.cab", "extsetup.exe", "setup.exe",
                                                                     "v1uninst100.iss"}));
            EXPECT_FALSE(exists(staging));
            ASSERT_EQ(aside.size(), 1u);
            EXPECT_TRUE(exists(tmp + aside[0] + "\\Disk1\\locked.dll"));
        } else {
            EXPECT_EQ(result, ERROR_SHARING_VIOLATION);
            ASSERT_EQ(recorder.boxes.size(), 1u);
            EXPECT_EQ(recorder.boxes[0].text, errorBoxText(ERROR_SHARING_VIOLATION));
            EXPECT_EQ(recorder.boxes[0].style, static_cast<unsigned>(MB_OK | MB_ICONERROR));
            EXPECT_TRUE(lines.empty());
            EXPECT_TRUE(aside.empty());
            EXPECT_FALSE(exists(staging + "\\data1.cab"));
        }
    }
}

HLOCAL WINAPI noMemory(UINT, SIZE_T) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

// A maintenance folder of one file per language is staged, guarded, run and
// cleaned up like any other; memory that runs out while the guard holds the
// files is told as that, and nothing runs.
TEST_F(Hostile, AnyNumberOfMaintenanceFilesWithinMemory) {
    for (const bool memory : {true, false}) {
        SCOPED_TRACE(memory ? "seventy files more" : "no memory to hold them");
        TearDown();
        SetUp();
        ASSERT_FALSE(HasFatalFailure());
        for (int language = 0; language < 70; ++language)
            writeFile(installed + "0x04" + std::to_string(10 + language) + ".ini", "strings");
        StagingGuardCalls calls = {};
        calls.localAlloc = noMemory;
        std::optional<StagingGuardCallsGuard> out;
        if (!memory) out.emplace(calls);
        MessageRecorder recorder;
        const int32_t result = runChain();
        const std::vector<std::string> lines = starts(memory ? 2 : 0);
        if (memory) {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(recorder.boxes.empty());
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_EQ(filesSeen(lines[0]).size(), 74u);
            EXPECT_FALSE(exists(staging));
        } else {
            EXPECT_EQ(result, ERROR_NOT_ENOUGH_MEMORY);
            ASSERT_EQ(recorder.boxes.size(), 1u);
            EXPECT_EQ(recorder.boxes[0].text, textUpgradeOutOfMemory);
            EXPECT_TRUE(lines.empty());
        }
    }
}

// A staged file held open while the clean-up runs: shown, passed over, the
// directory's removal fails and is shown too, and the run still goes on to the
// new installer (the upgrade itself succeeded).
TEST_F(Hostile, StagedFileLockedDuringTheCleanUp) {
    const std::string sharing = errorBoxText(ERROR_SHARING_VIOLATION);
    const std::string notEmpty = errorBoxText(ERROR_DIR_NOT_EMPTY);
    lockWhileRunning = staging + "\\data1.cab";
    std::vector<RecordedBox> boxes;
    int32_t result;
    {
        // Unelevated: the staged files are not held while the program runs.
        UnelevatedLauncherGuard unelevated;
        ProgressCallsGuard calls({nullptr, nullptr, lockingDialogBox, nullptr});
        MessageRecorder recorder;
        result = runChain();
        boxes = recorder.boxes;
    }
    ASSERT_NE(lockTaken, INVALID_HANDLE_VALUE);
    CloseHandle(lockTaken);
    lockTaken = INVALID_HANDLE_VALUE;
    EXPECT_EQ(result, 0);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, sharing);
    EXPECT_EQ(boxes[1].text, notEmpty);
    EXPECT_EQ(listDirectory(staging), std::vector<std::string>{"data1.cab"});
    EXPECT_EQ(starts(2).size(), 2u);
}

// The progress dialog cannot be had: the maintenance program has been started
// and runs on, the failure is shown, the staged files stay (the program may be
// using them), and the new installer is not launched.
TEST_F(Hostile, ProgressDialogThatCannotStartEndsTheRunWithoutLaunching) {
    struct Case {
        const char* name;
        bool threadFails;  // else the dialog cannot be created
        int32_t result;
        size_t boxes;
    };
    const Case cases[] = {
        {"thread cannot start", true, ERROR_NOT_ENOUGH_MEMORY, 1},
        {"dialog cannot be created", false, WAIT_TIMEOUT, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        ASSERT_FALSE(HasFatalFailure());
        const std::string last = errorBoxText(static_cast<DWORD>(c.result));
        std::vector<RecordedBox> boxes;
        int32_t result;
        {
            ProgressCallsGuard calls({nullptr, c.threadFails ? failingCreateThread : nullptr, nullptr,
                                      nullptr});
            // kernel32 holds no template 102.
            AppInstanceGuard module(c.threadFails ? appInstance() : GetModuleHandleA("kernel32.dll"));
            MessageRecorder recorder;
            result = runChain();
            boxes = recorder.boxes;
        }
        EXPECT_EQ(result, c.result);
        ASSERT_EQ(boxes.size(), c.boxes);
        for (const RecordedBox& box : boxes) EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(boxes.back().text, last);
        std::vector<std::string> lines = starts(1);
        ASSERT_EQ(lines.size(), 1u);  // the staged program only; no new installer
        EXPECT_NE(lines[0].find(stagingDirectoryName), std::string::npos);
        EXPECT_TRUE(exists(staging + "\\data1.cab"));
    }
}
