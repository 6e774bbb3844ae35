// The detection stage under Wine, end to end within the process: setup.ini
// beside the test program, the product's uninstall entry written into the test
// prefix's 32-bit view (and removed again), the real confirmation dialog pressed
// from a helper thread, and the message boxes answered by the recorder.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "MessageRecorder.h"
#include "Seams.h"
#include "checks/ProductDetection.h"
#include "core/SetupState.h"
#include "core/Text.h"
#include "core/UserTexts.h"
#include "run/CommandRules.h"
#include "ui/ConfirmationRules.h"

namespace {

const char productKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13}";
const char driverKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Rainbow Sentinel Driver";
const char iniText[] = "[Startup]\r\nProductGUID=3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13\r\nProduct=Korvane\r\n";
const char uninstall[] = "\"C:\\maint\\setup.exe\" -removeonly";

struct Value {
    const char* name;
    DWORD type;
    std::string data;  // bytes exactly as stored
};

std::string sz(const char* text) { return std::string(text) + '\0'; }

std::string ownDirectory() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    *(std::strrchr(path, '\\') + 1) = '\0';
    return path;
}

void writeKey(const char* path, REGSAM view, const std::vector<Value>& values) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                              &key, nullptr), ERROR_SUCCESS);
    for (const Value& v : values)
        RegSetValueExA(key, v.name, 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                       static_cast<DWORD>(v.data.size()));
    RegCloseKey(key);
}

void deleteKeys() {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, productKey, view, 0);
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, driverKey, view, 0);
    }
}

// Presses a button of the confirmation dialog once it shows.
struct Press {
    int command;
    bool found;
};

DWORD WINAPI pressWhenShown(void* parameter) {
    auto& press = *static_cast<Press*>(parameter);
    for (int waited = 0; waited < 8000; waited += 20) {
        HWND dialog = FindWindowA("#32770", "Installation Confirmation");
        if (dialog != nullptr && IsWindowVisible(dialog)) {
            press.found = true;
            PostMessageA(dialog, WM_COMMAND, static_cast<WPARAM>(press.command), 0);
            return 0;
        }
        Sleep(20);
    }
    return 0;
}

class Detection : public testing::Test {
protected:
    std::string iniPath = ownDirectory() + "setup.ini";
    MessageRecorder recorder;
    SetupState state{};
    Press press{IDOK, false};

    void SetUp() override {
        deleteKeys();
        writeIni(iniText);
    }
    void TearDown() override {
        deleteKeys();
        DeleteFileA(iniPath.c_str());
    }
    void writeIni(const std::string& text) {
        HANDLE file = CreateFileA(iniPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
    void installed(const std::vector<Value>& values) { writeKey(productKey, KEY_WOW64_32KEY, values); }
    int32_t detect(bool expectDialog = true) {
        HANDLE thread = expectDialog ? CreateThread(nullptr, 0, pressWhenShown, &press, 0, nullptr) : nullptr;
        int32_t status = detectInstalledProduct(state);
        if (thread != nullptr) {
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
            EXPECT_TRUE(press.found);
        }
        return status;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> all;
        for (const RecordedBox& box : recorder.boxes) all.push_back(box.text);
        return all;
    }
};

}  // namespace

TEST_F(Detection, NothingInstalledAsksNothingAndLeavesTheFlagsClear) {
    EXPECT_EQ(detect(), 0);
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_EQ(std::string(state.setupDirectory), ownDirectory());
    EXPECT_STREQ(state.productName, "Korvane");
    EXPECT_EQ(state.stopSetup + state.runInstalledSetup + state.uninstallOnly + state.upgradeMode, 0);
}

TEST_F(Detection, DecisionTableRows) {
    struct Row {
        const char* version;
        int answer;
        const char* prompt;
        unsigned style;
        int stop, runInstalled, uninstallOnly, upgrade;
    } rows[] = {
        {"2.00", IDYES, "Korvane 2.00 already exists on your system. Would you like to uninstall your software now?", 0x134, 0, 1, 1, 0},
        {"2.01", IDNO, "Korvane 2.01 already exists on your system. Would you like to uninstall your software now?", 0x134, 1, 0, 0, 0},
        {"1.1", IDYES, "An older version of Korvane (1.10) has been detected. Would you like to upgrade your software now?", 0x134, 0, 1, 0, 1},
        {"1.999", IDNO, "An older version of Korvane (2.00) has been detected. Would you like to upgrade your software now?", 0x134, 1, 0, 0, 0},
        {"2.1", IDOK, "A newer version of Korvane (2.10) has been detected. You must first uninstall the existing version of software to continue. Any databases created/updated using the existing software will not be compatible with this version of software if you decide to downgrade.", 0, 1, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.version);
        recorder.boxes.clear();
        state = SetupState{};
        installed({{"DisplayName", REG_SZ, sz("Korvane")}, {"DisplayVersion", REG_SZ, sz(row.version)},
                   {"UninstallString", REG_SZ, sz(uninstall)}});
        recorder.answers.push_back(row.answer);
        EXPECT_EQ(detect(), 0);
        ASSERT_EQ(recorder.boxes.size(), 1u);
        EXPECT_EQ(recorder.boxes[0].text, row.prompt);
        EXPECT_EQ(recorder.boxes[0].caption, "Setup");
        EXPECT_EQ(recorder.boxes[0].style, row.style);
        EXPECT_EQ(state.stopSetup, row.stop);
        EXPECT_EQ(state.runInstalledSetup, row.runInstalled);
        EXPECT_EQ(state.uninstallOnly, row.uninstallOnly);
        EXPECT_EQ(state.upgradeMode, row.upgrade);
        // The installed copy's texts are stored only after a Yes.
        EXPECT_EQ(std::string(state.installedVersion), row.runInstalled ? row.version : "");
        EXPECT_EQ(std::string(state.installedName), row.runInstalled ? "Korvane" : "");
        EXPECT_EQ(std::string(state.uninstallCommand), row.runInstalled ? uninstall : "");
    }
}

TEST_F(Detection, MissingNameIsReportedAndShownAsQuestionMark) {
    installed({{"DisplayVersion", REG_SZ, sz("1.1")}, {"UninstallString", REG_SZ, sz(uninstall)}});
    recorder.answers = {IDOK, IDYES};
    EXPECT_EQ(detect(), 0);
    ASSERT_EQ(recorder.boxes.size(), 2u);
    EXPECT_EQ(recorder.boxes[0].text, "DisplayName string does not exist in registry.");
    EXPECT_EQ(recorder.boxes[0].caption, "Error");
    EXPECT_EQ(recorder.boxes[0].style, static_cast<unsigned>(MB_ICONERROR));
    EXPECT_EQ(recorder.boxes[1].text.rfind("An older version of ? (1.10)", 0), 0u);
    EXPECT_STREQ(state.installedName, "?");
    EXPECT_EQ(state.upgradeMode, 1);
}

TEST_F(Detection, MissingVersionCountsAsOlderZero) {
    installed({{"DisplayName", REG_SZ, sz("Korvane")}, {"UninstallString", REG_SZ, sz(uninstall)}});
    recorder.answers = {IDNO};
    EXPECT_EQ(detect(), 0);
    EXPECT_EQ(texts(), std::vector<std::string>{"An older version of Korvane (0.00) has been detected. "
                                                "Would you like to upgrade your software now?"});
    EXPECT_EQ(state.stopSetup, 1);
}

TEST_F(Detection, OverlongNameIsAnErrorThatEndsTheStage) {
    installed({{"DisplayName", REG_SZ, sz(std::string(300, 'N').c_str())}, {"DisplayVersion", REG_SZ, sz("1.1")}});
    EXPECT_EQ(detect(), -1);
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].caption, "Error");
    EXPECT_NE(recorder.boxes[0].text.find("More data"), std::string::npos) << recorder.boxes[0].text;
    EXPECT_EQ(state.runInstalledSetup + state.stopSetup, 0);
}

TEST_F(Detection, UnterminatedAndOddlyTypedValuesStayWithinTheirBuffers) {
    struct Row { const char* name; Value value; const char* prompt; } rows[] = {
        {"261 bytes of binary name", {"DisplayName", REG_BINARY, std::string(261, 'N')},
         nullptr},  // prompt starts with 260 N
        {"DWORD version", {"DisplayVersion", REG_DWORD, std::string("\x02\x00\x00\x00", 4)},
         "An older version of Korvane (0.00)"},
        {"binary version without terminator", {"DisplayVersion", REG_BINARY, "2.00"},
         "Korvane 2.00 already exists"},
        {"empty version", {"DisplayVersion", REG_SZ, ""}, "An older version of Korvane (0.00)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        recorder.boxes.clear();
        state = SetupState{};
        deleteKeys();
        std::vector<Value> values = {{"DisplayName", REG_SZ, sz("Korvane")},
                                     {"DisplayVersion", REG_SZ, sz("1.1")},
                                     {"UninstallString", REG_SZ, sz(uninstall)}};
        for (Value& v : values)
            if (std::strcmp(v.name, row.value.name) == 0) v = row.value;
        installed(values);
        recorder.answers = {IDYES};
        EXPECT_EQ(detect(), 0);
        ASSERT_EQ(recorder.boxes.size(), 1u);
        const std::string expected = row.prompt ? row.prompt : "An older version of " + std::string(260, 'N') + " (1.10)";
        EXPECT_EQ(recorder.boxes[0].text.rfind(expected, 0), 0u) << recorder.boxes[0].text;
        EXPECT_LE(std::strlen(state.installedName), 260u);
        EXPECT_LE(std::strlen(state.installedVersion), 260u);
    }
}

TEST_F(Detection, UnreadableUninstallStringClearsTheRunAfterYes) {
    installed({{"DisplayName", REG_SZ, sz("Korvane")}, {"DisplayVersion", REG_SZ, sz("2.00")}});
    recorder.answers = {IDYES};
    EXPECT_EQ(detect(), 0);
    EXPECT_EQ(texts(), (std::vector<std::string>{
                           "Korvane 2.00 already exists on your system. Would you like to uninstall your software now?",
                           "Uninstall string does not exist in registry."}));
    ASSERT_EQ(recorder.boxes.size(), 2u);
    EXPECT_EQ(recorder.boxes[1].caption, "Error");
    EXPECT_EQ(state.uninstallOnly, 1);
    EXPECT_EQ(state.runInstalledSetup, 0);
    EXPECT_EQ(state.stopSetup, 0);
    EXPECT_STREQ(state.uninstallCommand, "");
}

TEST_F(Detection, DriverInThe32BitViewStopsEvenAfterYes) {
    installed({{"DisplayName", REG_SZ, sz("Korvane")}, {"DisplayVersion", REG_SZ, sz("1.1")},
               {"UninstallString", REG_SZ, sz(uninstall)}});
    writeKey(driverKey, KEY_WOW64_32KEY, {});
    recorder.answers = {IDYES};
    EXPECT_EQ(detect(), 0);
    ASSERT_EQ(recorder.boxes.size(), 2u);
    EXPECT_EQ(recorder.boxes[1].text.rfind("Cannot upgrade Sentinel driver.", 0), 0u);
    EXPECT_EQ(state.upgradeMode, 1);
    EXPECT_EQ(state.runInstalledSetup, 1);
    EXPECT_EQ(state.stopSetup, 1);
}

TEST_F(Detection, KeysOnlyInThe64BitViewAreNotSeen) {
    writeKey(productKey, KEY_WOW64_64KEY, {{"DisplayName", REG_SZ, sz("Korvane")},
                                          {"DisplayVersion", REG_SZ, sz("2.00")}});
    writeKey(driverKey, KEY_WOW64_64KEY, {});
    EXPECT_EQ(detect(), 0);
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_EQ(state.stopSetup, 0);
}

TEST_F(Detection, DriverCheckDoesNotRunAfterNo) {
    installed({{"DisplayName", REG_SZ, sz("Korvane")}, {"DisplayVersion", REG_SZ, sz("2.00")}});
    writeKey(driverKey, KEY_WOW64_32KEY, {});
    recorder.answers = {IDNO};
    EXPECT_EQ(detect(), 0);
    EXPECT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(state.stopSetup, 1);
}

TEST_F(Detection, CancelledConfirmationStopsBeforeTheRegistry) {
    installed({{"DisplayName", REG_SZ, sz("Korvane")}, {"DisplayVersion", REG_SZ, sz("2.00")}});
    writeKey(driverKey, KEY_WOW64_32KEY, {});
    press.command = IDCANCEL;
    EXPECT_EQ(detect(), 0);
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_EQ(state.stopSetup, 1);
    EXPECT_EQ(state.runInstalledSetup + state.uninstallOnly + state.upgradeMode, 0);
}

TEST_F(Detection, SetupIniThatDoesNotNameThisProductFailsWithOneBox) {
    struct Row { const char* name; const char* ini; const char* text; } rows[] = {
        {"missing", nullptr, textProductCodeMissing},
        {"empty", "", textProductCodeMissing},
        {"no section", "ProductGUID=3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13\r\n", textProductCodeMissing},
        {"binary", "\x01\xff\xfe\x00\x13[Start", textProductCodeMissing},
        {"lower case", "[Startup]\r\nProductGUID=3f1b7c2a-9d4e-4b6a-8c21-5e0d7a9b4c13\r\n", textProductCodeForeign},
        {"braces", "[Startup]\r\nProductGUID={3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13}\r\n", textProductCodeForeign},
        {"over-long", nullptr, textProductCodeForeign},
    };
    installed({{"DisplayName", REG_SZ, sz("Korvane")}, {"DisplayVersion", REG_SZ, sz("2.00")}});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        recorder.boxes.clear();
        state = SetupState{};
        DeleteFileA(iniPath.c_str());
        if (row.ini != nullptr) writeIni(std::string(row.ini, std::strlen(row.ini) + (row.name[0] == 'b' ? 5 : 0)));
        if (std::strcmp(row.name, "over-long") == 0)
            writeIni("[Startup]\r\nProductGUID=3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13" + std::string(300, 'X') +
                     "\r\nProduct=" + std::string(400, 'P') + "\r\n");
        EXPECT_EQ(detect(false), -1);
        EXPECT_EQ(texts(), std::vector<std::string>{row.text});
        EXPECT_EQ(state.stopSetup, 0);
        EXPECT_LE(std::strlen(state.productName), 260u);
    }
}

TEST_F(Detection, DuplicatedKeysTakeTheFirst) {
    writeIni("[Startup]\r\nProductGUID=3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13\r\nProduct=First\r\n"
             "ProductGUID=other\r\nProduct=Second\r\n");
    EXPECT_EQ(detect(), 0);
    EXPECT_STREQ(state.productName, "First");
}

TEST_F(Detection, AStoppedRunIsLeftAlone) {
    state.stopSetup = 1;
    EXPECT_EQ(detect(false), 0);
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_STREQ(state.setupDirectory, "");
}

TEST_F(Detection, OwnPathThatCannotBeHadIsAFailureWithARealCode) {
    AppInstanceGuard noModule(reinterpret_cast<HINSTANCE>(0x10));
    const int32_t status = detect(false);
    EXPECT_NE(status, 0);
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].caption, "Error");
    EXPECT_EQ(recorder.boxes[0].text, systemText(static_cast<unsigned long>(status)));
    EXPECT_NE(recorder.boxes[0].text, systemText(0));
    EXPECT_STREQ(state.setupDirectory, "");
}

namespace {

// A copy of the built launcher at the end of a folder whose path, with its
// closing backslash, is `length` characters long; loaded as a module (nothing
// of it runs), it is a launcher whose own directory is that folder.
class DeepLauncher {
public:
    explicit DeepLauncher(size_t length) {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        root = std::string(temp) + "korvane-deep";
        CreateDirectoryA(root.c_str(), nullptr);
        directory = root;
        while (directory.size() + 1 < length) {
            const size_t segment = std::min<size_t>(60, length - directory.size() - 2);
            directory += "\\" + std::string(segment, 'd');
            CreateDirectoryA(("\\\\?\\" + directory).c_str(), nullptr);
        }
        directory += "\\";
        char own[MAX_PATH];
        GetModuleFileNameA(nullptr, own, sizeof own);
        std::string launcher = own;
        for (int i = 0; i < 3; ++i) launcher.erase(launcher.find_last_of('\\'));
        copied = CopyFileA((launcher + "\\KorvaneSetup.exe").c_str(), ("\\\\?\\" + directory + "k.exe").c_str(), FALSE);
        module = LoadLibraryExA((directory + "k.exe").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    }
    ~DeepLauncher() {
        if (module != nullptr) FreeLibrary(module);
        DeleteFileA(("\\\\?\\" + directory + "k.exe").c_str());
        for (std::string folder = directory.substr(0, directory.size() - 1); folder.size() >= root.size();
             folder.erase(folder.find_last_of('\\')))
            RemoveDirectoryA(("\\\\?\\" + folder).c_str());
    }
    std::string root, directory;
    bool copied = false;
    HMODULE module = nullptr;
};

}  // namespace

// setup.ini beside a launcher whose folder leaves room for it is read as ever
// (here there is none, so the product code is missing); one character more and
// its path would be cut: that is said as it is, and the stage fails there.
TEST_F(Detection, SetupIniPathOver260CharactersIsReportedAsTooLong) {
    struct Row { size_t directoryLength; int32_t status; std::string text; } rows[] = {
        {251, -1, textProductCodeMissing},
        {252, ERROR_FILENAME_EXCED_RANGE, systemText(ERROR_FILENAME_EXCED_RANGE)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.directoryLength);
        recorder.boxes.clear();
        state = SetupState{};
        DeepLauncher launcher(row.directoryLength);
        ASSERT_EQ(launcher.directory.size(), row.directoryLength);
        ASSERT_TRUE(launcher.copied) << launcher.directory;
        ASSERT_NE(launcher.module, nullptr) << GetLastError();
        AppInstanceGuard deep(launcher.module);
        EXPECT_EQ(detect(false), row.status);
        EXPECT_EQ(std::string(state.setupDirectory), launcher.directory);
        EXPECT_EQ(texts(), std::vector<std::string>{row.text});
        EXPECT_EQ(state.stopSetup, 0);
    }
}

// The uninstall command's field holds 260 characters: a command that long is
// used whole; one that filled the field without its end is left for the split
// to refuse, and a longer one cannot be read at all.
TEST_F(Detection, UninstallCommandIsUsedWholeUpTo260Characters) {
    const std::string start = "\"C:\\maint\\setup.exe\" -removeonly ";
    const auto command = [&](size_t length) { return start + std::string(length - start.size(), 'a'); };
    // REG_SZ data passed without its terminator gets one from the system when the
    // byte after it is zero, as in a std::string; binary data is stored as given.
    struct Row { const char* name; Value stored; bool read; CommandSplit split; } rows[] = {
        {"260 characters and the terminator", {"UninstallString", REG_SZ, sz(command(260).c_str())}, true,
         commandSplit},
        {"260 characters without terminator", {"UninstallString", REG_BINARY, command(260)}, true,
         commandSplit},
        {"261 characters without terminator", {"UninstallString", REG_BINARY, command(261)}, true,
         commandMayBeCut},
        {"261 characters and the terminator", {"UninstallString", REG_SZ, sz(command(261).c_str())}, false,
         commandNotQuoted},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        recorder.boxes.clear();
        state = SetupState{};
        deleteKeys();
        installed({{"DisplayName", REG_SZ, sz("Korvane")}, {"DisplayVersion", REG_SZ, sz("2.00")}, row.stored});
        recorder.answers = {IDYES};
        EXPECT_EQ(detect(), 0);
        EXPECT_EQ(state.runInstalledSetup, row.read ? 1 : 0);
        if (!row.read) {
            EXPECT_EQ(texts().back(), "Uninstall string does not exist in registry.");
            continue;
        }
        ASSERT_EQ(recorder.boxes.size(), 1u);
        char arguments[textCapacity] = {};
        EXPECT_EQ(splitUninstallCommand(state.uninstallCommand, sizeof state.uninstallCommand, arguments,
                                        sizeof arguments, noLeadBytes),
                  row.split);
        if (row.split == commandSplit) {
            EXPECT_STREQ(state.uninstallCommand, "C:\\maint\\setup.exe");
            EXPECT_EQ(std::string(arguments), command(260).substr(command(260).find("-removeonly")));
        } else {
            EXPECT_EQ(boundedLength(state.uninstallCommand, sizeof state.uninstallCommand), textCapacity);
            EXPECT_STREQ(arguments, "");
        }
    }
}

namespace {

// Where short names are off on a volume, a name without a short form comes back
// in its long form.
DWORD WINAPI noShortNames(LPCWSTR longPath, LPWSTR shortPath, DWORD capacity) {
    const size_t length = wcslen(longPath);
    if (length >= capacity) return static_cast<DWORD>(length + 1);
    wcscpy(shortPath, longPath);
    return static_cast<DWORD>(length);
}

// A folder name that the system's code page cannot write: the first of a few
// scripts that it lacks. Empty when it writes them all.
std::wstring nameOutsideTheCodePage() {
    for (const wchar_t* name : {L"\u0423\u0441\u0442\u0430\u043d\u043e\u0432\u043a\u0430",  // Cyrillic
                                L"\u0e15\u0e34\u0e14\u0e15\u0e31\u0e49\u0e07",              // Thai
                                L"\u10d3\u10d0\u10e7\u10d4\u10dc\u10d4\u10d1\u10d0"}) {     // Georgian
        BOOL usedDefault = FALSE;
        char written[64];
        if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, written, sizeof written, nullptr,
                                &usedDefault) == 0 ||
            usedDefault)
            return name;
    }
    return L"";
}

}  // namespace

// A launcher in a folder whose name the code page cannot write, on a volume that
// keeps no short names: one box that says so, and nothing further (here no
// setup.ini lies beside it, so a stage that went on would say that instead).
TEST_F(Detection, MediumFolderWithoutAnyUsableNameIsRefusedWithOneBox) {
    const std::wstring name = nameOutsideTheCodePage();
    ASSERT_FALSE(name.empty()) << "the code page " << GetACP() << " writes every name this test has";
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + name;
    const std::wstring launcher = folder + L"\\k.exe";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    wchar_t own[MAX_PATH];
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    std::wstring built = own;
    for (int i = 0; i < 3; ++i) built.erase(built.find_last_of(L'\\'));
    ASSERT_TRUE(CopyFileW((built + L"\\KorvaneSetup.exe").c_str(), launcher.c_str(), FALSE))
        << GetLastError();
    HMODULE module = LoadLibraryExW(launcher.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(module, nullptr) << GetLastError();
    {
        AppInstanceGuard copied(module);
        ShortPathCallGuard shortNamesOff(noShortNames);
        EXPECT_NE(detect(false), 0);
        ASSERT_EQ(recorder.boxes.size(), 1u);
        EXPECT_EQ(recorder.boxes[0].text, textMediumFolderUnusable);
        EXPECT_EQ(recorder.boxes[0].caption, "Error");
        EXPECT_STREQ(state.setupDirectory, "");
    }
    FreeLibrary(module);
    DeleteFileW(launcher.c_str());
    RemoveDirectoryW(folder.c_str());
}
