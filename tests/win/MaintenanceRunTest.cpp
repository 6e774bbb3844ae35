// The maintenance-run stage against real files, a real %TEMP% (pointed at a
// scratch folder through TMP) and a real child program: the stand-in installer,
// which logs its module path and command line. The progress dialog is real too.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "MessageRecorder.h"
#include "TestFiles.h"
#include "core/FixedNames.h"
#include "core/SetupState.h"
#include "core/SystemError.h"
#include "core/UserTexts.h"
#include "run/MaintenanceRun.h"

namespace {

class MaintenanceRun : public MaintenanceScratch {
public:
    void SetUp() override {
        createScratch("korvane-maintenance-test");
        if (HasFatalFailure()) return;
        // Read-only on the medium: the staged copy must still be removable.
        SetFileAttributesA((medium + responseFileName).c_str(), FILE_ATTRIBUTE_READONLY);
        std::memset(&state, 0, sizeof state);
        state.runInstalledSetup = 1;
        std::strcpy(state.setupDirectory, medium.c_str());
        std::strcpy(state.productName, "Korvane Studio");
    }

    void TearDown() override { removeScratch(); }

    void command(const std::string& text) { std::strcpy(state.uninstallCommand, text.c_str()); }

    void upgrade(const char* version, const std::string& arguments) {
        state.upgradeMode = 1;
        std::strcpy(state.installedVersion, version);
        command("\"" + installed + "setup.exe\" " + arguments);
    }

    // The stand-in's start line, or empty when nothing was started.
    std::string startLine() {
        std::ifstream in(log);
        std::string line;
        while (std::getline(in, line))
            if (line.find("\"event\":\"start\"") != std::string::npos) return line;
        return "";
    }

    SetupState state;
};

}  // namespace

TEST_F(MaintenanceRun, DoesNothingWhenNotWanted) {
    const int32_t flags[][2] = {{1, 1}, {0, 0}, {1, 0}};  // stopSetup, runInstalledSetup
    for (const auto& f : flags) {
        MessageRecorder recorder;
        state.stopSetup = f[0];
        state.runInstalledSetup = f[1];
        state.upgradeMode = 1;
        command("\"" + installed + "setup.exe\" -x");
        EXPECT_EQ(runMaintenance(state), 0);
        EXPECT_STREQ(state.uninstallCommand, ("\"" + installed + "setup.exe\" -x").c_str());
        EXPECT_TRUE(recorder.boxes.empty());
        EXPECT_FALSE(exists(staging));
        EXPECT_EQ(startLine(), "");
    }
}

TEST_F(MaintenanceRun, UninstallStartsTheRegisteredProgramWithItsArgumentsAlone) {
    struct Case {
        std::string after, commandLine;
    };
    const Case cases[] = {{"   -runfromtemp -l0x0409 -removeonly", "-runfromtemp -l0x0409 -removeonly"},
                          {"", ""}};
    for (const Case& c : cases) {
        DeleteFileA(log.c_str());
        MessageRecorder recorder;
        command("\"" + installed + "setup.exe\"" + c.after);
        EXPECT_EQ(runMaintenance(state), 0);
        EXPECT_TRUE(recorder.boxes.empty());
        std::string line = startLine();
        EXPECT_EQ(jsonField(line, "module"), installed + "setup.exe");
        std::string seen = jsonField(line, "cmdline");
        // Windows hands an empty command line over as it is; Wine puts the quoted
        // program path in its place.
        if (c.commandLine.empty() && seen == "\"" + installed + "setup.exe\"") seen.clear();
        EXPECT_EQ(seen, c.commandLine);
        EXPECT_EQ(std::string(state.uninstallCommand), installed + "setup.exe");
        EXPECT_FALSE(exists(staging));
    }
}

// Nothing that is not a quoted full path is ever started: an unquoted path could
// be cut at any blank, and a relative one would be looked up in the launcher's
// own folder.
TEST_F(MaintenanceRun, RefusesCommandsWithoutAQuotedFullPath) {
    // A program a relative command would find, gone again however the test ends.
    struct Bait {
        std::string path = moduleDirectory() + "setup.exe";
        char savedDirectory[MAX_PATH] = {};
        Bait() {
            GetCurrentDirectoryA(MAX_PATH, savedDirectory);
            CopyFileA(standinPath().c_str(), path.c_str(), FALSE);
            SetCurrentDirectoryA(moduleDirectory().c_str());
        }
        ~Bait() {
            SetCurrentDirectoryA(savedDirectory);
            DeleteFileA(path.c_str());
        }
    } bait;
    const std::string commands[] = {
        installed + "setup.exe -x",
        "MsiExec.exe /X{3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13}",
        "\"" + installed + "setup.exe -x",
        "\"setup.exe\" -x",
        "\"..\\win\\setup.exe\" -x",
    };
    for (int mode = 0; mode < 2; ++mode) {
        for (const std::string& text : commands) {
            SCOPED_TRACE(text);
            MessageRecorder recorder;
            state.upgradeMode = mode;
            std::strcpy(state.installedVersion, "1.0");
            command(text);
            EXPECT_EQ(runMaintenance(state), ERROR_BAD_PATHNAME);
            ASSERT_EQ(recorder.boxes.size(), 1u);
            EXPECT_EQ(recorder.boxes[0].text, textUnusableUninstallCommand);
            EXPECT_EQ(recorder.boxes[0].caption, "Error");
        }
    }
    EXPECT_EQ(startLine(), "");
    EXPECT_FALSE(exists(staging));
}

TEST_F(MaintenanceRun, QuotesInTheArgumentsMakeTheStartFail) {
    MessageRecorder recorder;
    command("\"" + installed + "setup.exe\" -f1\"C:\\a.iss\"");
    int32_t result = runMaintenance(state);
    EXPECT_NE(result, 0);
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].caption, "Error");
    EXPECT_EQ(startLine(), "");
}

TEST_F(MaintenanceRun, UpgradeRunsTheStagedInstallerSilentlyAndCleansUp) {
    MessageRecorder recorder;
    writeFile(installed + "layout.bin", "x");
    upgrade("1.10", "  -runfromtemp -l0x0409");
    EXPECT_EQ(runMaintenance(state), 0);
    EXPECT_TRUE(recorder.boxes.empty());
    std::string line = startLine();
    EXPECT_EQ(jsonField(line, "module"), staging + "\\extsetup.exe");
    EXPECT_EQ(jsonField(line, "cmdline"),
              "-runfromtemp -l0x0409 /s /SMS /f1\"" + staging + "\\v1uninst100.iss\"");
    // What the staged installer found beside itself.
    EXPECT_NE(line.find("\"files\":["), std::string::npos);
    for (const char* name : {"setup.exe", "extsetup.exe", "data1.cab", "layout.bin", "v1uninst100.iss"})
        EXPECT_NE(line.find(std::string("\"") + name + "\""), std::string::npos) << name;
    EXPECT_FALSE(exists(staging));
    EXPECT_TRUE(exists(tmp));
}

TEST_F(MaintenanceRun, VersionGateRefusesAbove110AfterStaging) {
    for (const char* version : {"1.11", "1.2", "2.0"}) {
        SCOPED_TRACE(version);
        MessageRecorder recorder;
        upgrade(version, "-x");
        EXPECT_EQ(runMaintenance(state), -1);
        ASSERT_EQ(recorder.boxes.size(), 1u);
        EXPECT_EQ(recorder.boxes[0].text, "Illegal installed version.");
        EXPECT_EQ(recorder.boxes[0].caption, "Error");
        EXPECT_EQ(recorder.boxes[0].style, static_cast<unsigned>(MB_OK | MB_ICONERROR));
        EXPECT_EQ(listDirectory(staging),
                  (std::vector<std::string>{"data1.cab", "extsetup.exe", "setup.exe"}));
    }
    EXPECT_EQ(startLine(), "");
}

TEST_F(MaintenanceRun, MissingMaintenanceDirectoryLeavesAnEmptyStagingAndGoesOn) {
    MessageRecorder recorder;
    state.upgradeMode = 1;
    std::strcpy(state.installedVersion, "1.0");
    command("\"" + root + "\\gone\\setup.exe\" -x");
    EXPECT_EQ(runMaintenance(state), 0);
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].text,
              "Could not find any files in InstallShield Installation Information directory.");
    EXPECT_TRUE(exists(staging));
    EXPECT_TRUE(listDirectory(staging).empty());
    EXPECT_EQ(startLine(), "");
}

// Each failure is shown with the system's text and ends the stage with its code.
TEST_F(MaintenanceRun, StagingFailuresEndTheStageWithTheirCode) {
    struct Case {
        const char* name;
        void (*arrange)(MaintenanceRun&);
        DWORD code;  // 0: any non-zero code
    };
    const Case cases[] = {
        {"subdirectory", [](MaintenanceRun& t) { CreateDirectoryA((t.installed + "sub").c_str(), nullptr); }, 0},
        {"response file missing",
         [](MaintenanceRun& t) {
             SetFileAttributesA((t.medium + responseFileName).c_str(), FILE_ATTRIBUTE_NORMAL);
             DeleteFileA((t.medium + responseFileName).c_str());
         },
         ERROR_FILE_NOT_FOUND},
        {"no extsetup.exe to start", [](MaintenanceRun& t) { DeleteFileA((t.installed + installerName).c_str()); },
         ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        ASSERT_FALSE(HasFatalFailure());
        c.arrange(*this);
        std::vector<RecordedBox> boxes;
        int32_t result;
        {
            MessageRecorder recorder;
            upgrade("1.0", "-x");
            result = runMaintenance(state);
            boxes = recorder.boxes;
        }
        if (c.code != 0) {
            EXPECT_EQ(result, static_cast<int32_t>(c.code));
        }
        EXPECT_NE(result, 0);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, errorBoxText(result));
        EXPECT_EQ(startLine(), "");
        EXPECT_TRUE(exists(staging + "\\data1.cab") || std::string(c.name) == "subdirectory");
    }
}

// The staged installer runs elevated: it must find only what this run copied.
TEST_F(MaintenanceRun, LeftoverStagingIsEmptiedBeforeStaging) {
    CreateDirectoryA(staging.c_str(), nullptr);
    writeFile(staging + "\\stale.txt", "from an earlier run");
    writeFile(staging + "\\data1.cab", "old");
    MessageRecorder recorder;
    upgrade("1.0", "-x");
    EXPECT_EQ(runMaintenance(state), 0);
    EXPECT_TRUE(recorder.boxes.empty());
    std::string line = startLine();
    EXPECT_EQ(line.find("\"stale.txt\""), std::string::npos);
    EXPECT_NE(line.find("\"data1.cab\""), std::string::npos);
    EXPECT_FALSE(exists(staging));
}

// CopyFileA keeps the attributes of the maintenance folder's files: read-only,
// hidden and system copies are cleaned up like any other.
TEST_F(MaintenanceRun, StagedFilesWithAttributesAreCleanedUp) {
    const std::pair<const char*, DWORD> files[] = {
        {"readonly.dat", FILE_ATTRIBUTE_READONLY},
        {"hidden.dat", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY},
        {"system.dat", FILE_ATTRIBUTE_SYSTEM}};
    for (const auto& f : files) {
        writeFile(installed + f.first, "x");
        SetFileAttributesA((installed + f.first).c_str(), f.second);
    }
    MessageRecorder recorder;
    upgrade("1.0", "-x");
    EXPECT_EQ(runMaintenance(state), 0);
    EXPECT_TRUE(recorder.boxes.empty());
    for (const auto& f : files)
        EXPECT_NE(startLine().find(std::string("\"") + f.first + "\""), std::string::npos) << f.first;
    EXPECT_FALSE(exists(staging));
}

namespace {

std::wstring systemTemp;

DWORD WINAPI systemTempPath(DWORD capacity, LPWSTR path) {
    lstrcpynW(path, systemTemp.c_str(), static_cast<int>(capacity));
    return static_cast<DWORD>(systemTemp.size());
}

}  // namespace

// Where Windows has GetTempPath2W (which gives SYSTEM a folder only SYSTEM
// reaches), the staging directory is made in the folder it names.
TEST_F(MaintenanceRun, StagesWhereGetTempPath2SaysWhereWindowsHasIt) {
    const std::string folder = root + "\\SystemTemp\\";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    systemTemp.assign(folder.begin(), folder.end());
    TempPath2CallGuard windowsHasIt(systemTempPath);
    upgrade("1.10", "-x");
    EXPECT_EQ(runMaintenance(state), 0);
    EXPECT_EQ(jsonField(startLine(), "module"), folder + stagingDirectoryName + "\\extsetup.exe");
}

namespace {

std::string stagingLeftTo;

// Runs the real dialog; once it has ended, leaves in the staging directory what
// a maintenance program leaves: a read-only log, and folders of files, one of
// them read-only and one hidden.
INT_PTR WINAPI dialogThenLeaveFiles(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC procedure,
                                    LPARAM parameter) {
    INT_PTR result = DialogBoxParamA(instance, name, owner, procedure, parameter);
    const std::string& at = stagingLeftTo;
    writeFile(at + "\\setup.log", "log");
    SetFileAttributesA((at + "\\setup.log").c_str(), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryA((at + "\\Disk1").c_str(), nullptr);
    CreateDirectoryA((at + "\\Disk1\\0x0409").c_str(), nullptr);
    writeFile(at + "\\Disk1\\0x0409\\strings.ini", "x");
    SetFileAttributesA((at + "\\Disk1\\0x0409\\strings.ini").c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesA((at + "\\Disk1").c_str(), FILE_ATTRIBUTE_READONLY);
    return result;
}

}  // namespace

// What the staged program left beside itself goes with the rest, without a box.
TEST_F(MaintenanceRun, WhatTheStagedProgramLeftIsCleanedUpWithTheRest) {
    stagingLeftTo = staging;
    ProgressCallsGuard calls({nullptr, nullptr, dialogThenLeaveFiles, nullptr});
    MessageRecorder recorder;
    upgrade("1.0", "-x");
    EXPECT_EQ(runMaintenance(state), 0);
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_FALSE(exists(staging));
}

// A cut staging path or command line would run another file or hand the
// installer a broken response-file path: refused before anything starts.
TEST_F(MaintenanceRun, NeverRunsACutPathOrCommandLine) {
    struct Case {
        const char* name;
        size_t tmpLength;  // length of the TMP folder, with its backslash
        std::string arguments;
    };
    const Case cases[] = {
        {"temporary folder longer than the buffer", 280, "-x"},
        {"command line would lose the response file's end", 200, "-runfromtemp -l0x0409"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Nested folders of at most 100 bytes each.
        std::string folder = root;
        while (folder.size() + 1 < c.tmpLength) {
            size_t part = std::min<size_t>(100, c.tmpLength - folder.size() - 2);
            folder += "\\" + std::string(part, 't');
            CreateDirectoryA(folder.c_str(), nullptr);
        }
        EnvironmentGuard temporary("TMP", (folder + "\\").c_str());
        MessageRecorder recorder;
        upgrade("1.0", c.arguments);
        EXPECT_EQ(runMaintenance(state), ERROR_FILENAME_EXCED_RANGE);
        EXPECT_EQ(recorder.boxes.size(), 1u);
        EXPECT_EQ(startLine(), "");
    }
}
