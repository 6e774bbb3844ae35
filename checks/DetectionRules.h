// The installed-copy decision of the detection stage, platform-free: how an
// installed version relates to the launcher's own, which prompt that asks, what
// the user's answer decides, and how a registry value becomes text.
#pragma once
#include <cstddef>
#include <cstdint>

enum class InstalledRelation { same, older, newer };

// Compares versionTimes100 of the installed "DisplayVersion" text with the
// launcher's own (200 for "2.0"); never the texts themselves.
InstalledRelation relateInstalledVersion(const char* installedVersionText, const char* builtInVersion);

// Message-box styles, as numbers so that this file needs no windows.h.
constexpr unsigned promptStyleQuestion = 0x134;  // MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2
constexpr unsigned promptStyleNotice = 0x0;      // MB_OK, no icon
constexpr int answerYes = 6;                     // IDYES: the only answer that counts as consent

struct InstalledPrompt {
    const char* format;  // "%s" the name, "%.2f" the shown version
    unsigned style;
    bool isQuestion;  // false: the newer-version notice, which only informs
};

InstalledPrompt promptFor(InstalledRelation relation);

// Formats the prompt into destination (capacity bytes, always terminated; longer
// prompts are cut). The shown version is the text's number with two decimals as
// the Microsoft run-time's "%.2f" gives it (formatTwoDecimals), not the compared
// integer, so "1.999" compares as older yet shows as 2.00, and "1.125" as 1.13.
void formatInstalledPrompt(char* destination, size_t capacity, InstalledRelation relation, const char* name,
                           const char* installedVersionText);

// What the answer to a prompt decides. stop: the run ends with nothing done.
struct InstalledDecision {
    bool stop;
    bool uninstallOnly;
    bool upgradeMode;
    bool runInstalledSetup;
};

// answer is the message box's result. Only Yes is consent: a box that failed (0)
// or was dismissed some other way (Escape or its close button give IDCANCEL on
// some systems) must never uninstall or upgrade anything. The newer-version
// notice stops whatever was pressed.
InstalledDecision decideInstalledCopy(InstalledRelation relation, int answer);

// A registry value read into a buffer of capacity bytes is not guaranteed to be
// terminated (a string stored without its terminator, a DWORD, binary data):
// cuts the bytes read to capacity - 1 and terminates them there.
void terminateRegistryText(char* buffer, size_t capacity, size_t bytesRead);

// Whether a value read into a buffer of capacity bytes came whole: fewer bytes
// than the buffer holds, or a terminator among them. A value that filled the
// buffer without one may go on beyond it.
bool registryTextIsWhole(const char* buffer, size_t capacity, size_t bytesRead);

// "SOFTWARE\...\Uninstall\{code}" into destination; false when it did not fit
// whole (a cut path would name some other key).
bool composeUninstallKeyPath(char* destination, size_t capacity, const char* productCode);
