// Files and folders for the Windows tests: the test program's own folder, the
// stand-in installer built beside it, scratch trees and the launcher's error text.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "Seams.h"
#include "core/SetupState.h"

// The folder of the running test program, with a trailing backslash.
std::string moduleDirectory();

// The stand-in installer, built beside the tests: <build>/tools/standin.exe.
std::string standinPath();

bool exists(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

// Removes a file or a whole tree, read-only entries included.
void removeTree(const std::string& path);

// The names in a folder, sorted, without "." and "..".
std::vector<std::string> listDirectory(const std::string& path);

// The text the launcher's "Error" box shows for a Windows error code. Call it
// while no MessageRecorder of the test exists: recorders do not nest.
std::string errorBoxText(DWORD code);

// One JSON string field of a stand-in log line, unescaped; "<missing>" if absent.
std::string jsonField(const std::string& line, const std::string& key);

// One line of a stand-in's log.
struct StandinEvent {
    std::string event;   // "start" or "exit"
    std::string module;  // the stand-in's own path
    std::string reason;  // exit only: "done", "stopped", "relaunched", ...
    unsigned long long tick = 0;  // GetTickCount64 when it was written
    std::string line;
};
std::vector<StandinEvent> readStandinLog(const std::string& log);

// A scratch tree for runs of the maintenance stage: a medium with the response
// file, an installed copy whose maintenance folder holds the stand-in as
// setup.exe and extsetup.exe, and a %TEMP% of its own (through TMP). The
// stand-ins log how they were started to `log` and end early once `stop` exists.
class MaintenanceScratch : public testing::Test {
public:
    // A fatal failure when the stand-in has not been built: nothing can be proven
    // without it.
    void createScratch(const char* name);
    // Puts the environment back and removes the tree.
    void removeScratch();
    // A record that asks for the upgrade of an installed 1.10 whose registered
    // command is this scratch tree's setup.exe -runfromtemp.
    void upgradeRecord(SetupState& state) const;

    std::string root, medium, installed, tmp, staging, log, stop;

private:
    std::optional<EnvironmentGuard> tmpVariable, logVariable, stopVariable, planVariable,
        relaunchVariable;
};
