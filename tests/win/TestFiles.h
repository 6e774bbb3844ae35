// Files and folders for the Windows tests: the test program's own folder, the
// stand-in installer built beside it, scratch trees and the launcher's error text.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

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

// The text the launcher's "Error" box shows for a Windows error code.
std::string errorBoxText(DWORD code);

// A scratch tree for runs of the maintenance stage: a medium with the response
// file, an installed copy whose maintenance folder holds the stand-in as
// setup.exe and extsetup.exe, and a %TEMP% of its own (through TMP). The
// stand-ins log how they were started to `log`.
class MaintenanceScratch : public testing::Test {
public:
    // False (and the test skipped) when the stand-in has not been built.
    bool createScratch(const char* name);
    void removeScratch();
    static std::string variable(const char* name);

    std::string root, medium, installed, tmp, staging, log, savedTmp;
};
