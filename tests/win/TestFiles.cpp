#include "TestFiles.h"

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <fstream>

#include "MessageRecorder.h"
#include "core/FixedNames.h"
#include "core/SystemError.h"

std::string moduleDirectory() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path);
    return text.substr(0, text.rfind('\\') + 1);
}

std::string standinPath() { return moduleDirectory() + "..\\..\\tools\\standin.exe"; }

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

void removeTree(const std::string& path) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            std::string full = path + "\\" + name;
            SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(full);
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!RemoveDirectoryA(path.c_str())) DeleteFileA(path.c_str());
}

std::vector<std::string> listDirectory(const std::string& path) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::string errorBoxText(DWORD code) {
    MessageRecorder reference;
    reportSystemError(code);
    return reference.boxes.at(0).text;
}

std::string jsonField(const std::string& line, const std::string& key) {
    size_t at = line.find("\"" + key + "\":\"");
    if (at == std::string::npos) return "<missing>";
    std::string value;
    for (size_t i = at + key.size() + 4; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\') ++i;
        value += line[i];
    }
    return value;
}

std::vector<StandinEvent> readStandinLog(const std::string& log) {
    std::vector<StandinEvent> events;
    std::ifstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        StandinEvent event;
        event.event = jsonField(line, "event");
        event.module = jsonField(line, "module");
        event.reason = jsonField(line, "reason");
        size_t tick = line.find("\"tick\":");
        if (tick != std::string::npos) event.tick = std::strtoull(line.c_str() + tick + 7, nullptr, 10);
        event.line = line;
        events.push_back(event);
    }
    return events;
}

void MaintenanceScratch::createScratch(const char* name) {
    ASSERT_TRUE(exists(standinPath())) << "the stand-in installer has not been built: "
                                       << standinPath() << " (build the standin target)";
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    root = std::string(temp) + name;
    removeTree(root);
    CreateDirectoryA(root.c_str(), nullptr);
    medium = root + "\\medium\\";
    installed = root + "\\installed\\";
    tmp = root + "\\tmp\\";
    staging = tmp + stagingDirectoryName;
    log = root + "\\standin.log";
    stop = root + "\\stop";
    for (const std::string& folder : {medium, installed, tmp}) CreateDirectoryA(folder.c_str(), nullptr);
    writeFile(medium + responseFileName, "[InstallShield Silent]\r\n");
    CopyFileA(standinPath().c_str(), (installed + "setup.exe").c_str(), FALSE);
    CopyFileA(standinPath().c_str(), (installed + installerName).c_str(), FALSE);
    writeFile(installed + "data1.cab", "cab");
    tmpVariable.emplace("TMP", tmp.c_str());
    logVariable.emplace("KORVANE_STANDIN_LOG", log.c_str());
    stopVariable.emplace("KORVANE_STANDIN_STOP", stop.c_str());
    planVariable.emplace("KORVANE_STANDIN_PLAN", nullptr);
    relaunchVariable.emplace("KORVANE_STANDIN_RELAUNCH", nullptr);
}

void MaintenanceScratch::removeScratch() {
    relaunchVariable.reset();
    planVariable.reset();
    stopVariable.reset();
    logVariable.reset();
    tmpVariable.reset();
    if (!root.empty()) removeTree(root);
}

void MaintenanceScratch::upgradeRecord(SetupState& state) const {
    std::memset(&state, 0, sizeof state);
    state.runInstalledSetup = 1;
    state.upgradeMode = 1;
    std::strcpy(state.installedVersion, "1.10");
    std::strcpy(state.setupDirectory, medium.c_str());
    std::strcpy(state.productName, "Korvane");
    std::strcpy(state.uninstallCommand, ("\"" + installed + "setup.exe\" -runfromtemp").c_str());
}
