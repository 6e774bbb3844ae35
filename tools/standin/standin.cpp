// standin: takes the place of the Korvane installer (extsetup.exe beside the
// launcher) and of an installed copy's maintenance program, and tells how it was
// started.
//
// With KORVANE_STANDIN_LOG set, it appends one JSON line to that file when it
// starts (module path, command line exactly as GetCommandLineA gives it, current
// directory, time, pid, the files in its own directory) and one when it ends.
// How long it stays alive comes from the plan file named by KORVANE_STANDIN_PLAN:
// lines "<text> <ms>"; the first line whose text occurs in the module path (case
// ignored) gives the time; with no plan or no match it ends at once. It ends
// early when the file named by KORVANE_STANDIN_STOP appears.
//
// With KORVANE_STANDIN_RELAUNCH=<ms> it behaves like the many uninstallers that
// relaunch themselves from a temporary copy: it copies itself to
// %TEMP%\~korvane-standin-<pid>.exe, starts that copy with the command line
// "<copy>" _?=<its own folder> and ends at once (exit reason "relaunched"). The
// copy, told by the "_?=" in its command line, logs like any stand-in, stays
// <ms> (or until the stop file appears) and does not relaunch again. The copy
// is left in %TEMP%, as such uninstallers leave theirs. "<ms> breakaway" starts
// the copy with CREATE_BREAKAWAY_FROM_JOB, as some programs start their helpers.
// "<ms> again": the copy, once its <ms> are over, relaunches itself the same way
// (its own copy gets "--last" after the "_?=" and stays <ms>), then ends.
//
// With KORVANE_STANDIN_HELPERS=<n>|<ms>|<apart>, a stand-in that is neither a
// copy nor lingering first starts <n> short helpers, as an uninstaller that
// registers each of its DLLs through a program of its own does: itself with the
// command line "<module>" --helper <ms>, one every <apart> ms (or as fast as they
// start), each staying <ms> without a word in the log; then it goes on as usual
// (should one not start: exit reason "helpers failed", and no relaunch).
//
// With KORVANE_STANDIN_LINGER=<text>|<folder>|<ms>[|console], a stand-in whose
// module path holds <text> (case ignored) first leaves a long-lived program
// behind, as an uninstaller that opens a readme or a survey page does: it copies
// itself to <folder>\korvane-viewer.exe (making the folder) and starts that copy
// with the command line "<copy>" --linger, then goes on as usual. The copy logs
// like any stand-in and stays <ms> (or until the stop file appears). With
// "console" it is a console program: it takes a console of its own, whose host
// (conhost.exe) Windows 8 and later, and Wine, start as its child.
//
// Without KORVANE_STANDIN_LOG (a demo run) it shows a message box saying which
// installer it stands for and how it was started.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string envVar(const char* name) {
    char buf[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

// Wide text as a JSON string in UTF-8.
std::string jsonWide(const std::wstring& w) {
    std::string out = "\"";
    int n = (int)w.size();
    int m = WideCharToMultiByte(CP_UTF8, 0, w.data(), n, nullptr, 0, nullptr, nullptr);
    std::string u(m, '\0');
    if (m) WideCharToMultiByte(CP_UTF8, 0, w.data(), n, &u[0], m, nullptr, nullptr);
    for (unsigned char c : u) {
        if (c == '"' || c == '\\') { out += '\\'; out += (char)c; }
        else if (c < 0x20) { char e[8]; snprintf(e, sizeof e, "\\u%04x", c); out += e; }
        else out += (char)c;
    }
    return out + "\"";
}

// ANSI text (the system code page) as a JSON string in UTF-8.
std::string jsonText(const std::string& ansi) {
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), (int)ansi.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    if (n) MultiByteToWideChar(CP_ACP, 0, ansi.data(), (int)ansi.size(), &w[0], n);
    return jsonWide(w);
}

std::string timeText() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char buf[40];
    snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay,
             t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return buf;
}

// Appends one line; another stand-in may be writing at the same moment.
void appendLine(const std::string& path, const std::string& line) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(h, line.data(), (DWORD)line.size(), &written, nullptr);
            CloseHandle(h);
            return;
        }
        Sleep(10);
    }
}

std::string lower(std::string s) {
    CharLowerBuffA(&s[0], (DWORD)s.size());
    return s;
}

DWORD plannedMs(const std::string& module) {
    std::string plan = envVar("KORVANE_STANDIN_PLAN");
    FILE* f = plan.empty() ? nullptr : fopen(plan.c_str(), "r");
    if (!f) return 0;
    DWORD ms = 0;
    char line[1024];
    while (fgets(line, sizeof line, f)) {
        char* space = strrchr(line, ' ');
        if (!space) continue;
        *space = '\0';
        if (lower(module).find(lower(line)) != std::string::npos) {
            ms = strtoul(space + 1, nullptr, 10);
            break;
        }
    }
    fclose(f);
    return ms;
}

// Copies this program into %TEMP% and starts the copy; false when that fails.
bool relaunch(const std::string& module, const std::string& dir, bool breakaway, const char* more) {
    char temp[MAX_PATH] = "";
    DWORD n = GetTempPathA(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH) return false;
    std::string copy =
        std::string(temp) + "~korvane-standin-" + std::to_string(GetCurrentProcessId()) + ".exe";
    if (!CopyFileA(module.c_str(), copy.c_str(), FALSE)) return false;
    std::string folder = dir.substr(0, dir.size() - 1);
    std::string line = "\"" + copy + "\" _?=" + folder + more;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(copy.c_str(), &line[0], nullptr, nullptr, FALSE,
                        breakaway ? CREATE_BREAKAWAY_FROM_JOB : 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// Copies this program into folder and starts the copy to linger; false when
// that fails.
bool startLingering(const std::string& module, const std::string& folder) {
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string copy = folder + "\\korvane-viewer.exe";
    if (!CopyFileA(module.c_str(), copy.c_str(), FALSE)) return false;
    std::string line = "\"" + copy + "\" --linger";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(copy.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// KORVANE_STANDIN_LINGER split into its fields; false when it is not set or not
// of that form.
bool lingerPlan(std::string& text, std::string& folder, DWORD& ms, bool& console) {
    std::string plan = envVar("KORVANE_STANDIN_LINGER");
    size_t first = plan.find('|');
    size_t second = first == std::string::npos ? first : plan.find('|', first + 1);
    if (second == std::string::npos) return false;
    text = plan.substr(0, first);
    folder = plan.substr(first + 1, second - first - 1);
    ms = strtoul(plan.c_str() + second + 1, nullptr, 10);
    console = plan.find("|console", second) != std::string::npos;
    return !text.empty() && !folder.empty();
}

// Starts the short helpers of KORVANE_STANDIN_HELPERS one after another, paced,
// and leaves them to end by themselves; false when one could not be started.
bool startHelpers(const std::string& module) {
    std::string plan = envVar("KORVANE_STANDIN_HELPERS");
    char* rest = nullptr;
    unsigned long count = strtoul(plan.c_str(), &rest, 10);
    unsigned long ms = *rest == '|' ? strtoul(rest + 1, &rest, 10) : 0;
    unsigned long apart = *rest == '|' ? strtoul(rest + 1, nullptr, 10) : 0;
    std::string line = "\"" + module + "\" --helper " + std::to_string(ms);
    ULONGLONG first = GetTickCount64();
    for (unsigned long i = 0; i < count; ++i) {
        ULONGLONG due = first + i * apart;
        ULONGLONG now = GetTickCount64();
        if (now < due) Sleep((DWORD)(due - now));
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        std::string commandLine = line;
        if (!CreateProcessA(module.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process))
            return false;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char module[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    std::string commandLine = GetCommandLineA();
    size_t helper = commandLine.find(" --helper ");
    if (helper != std::string::npos) {
        Sleep(strtoul(commandLine.c_str() + helper + 10, nullptr, 10));
        return 0;
    }
    char cwd[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, cwd);

    std::string log = envVar("KORVANE_STANDIN_LOG");
    if (log.empty()) {
        std::string text = "This program stands in for the Korvane installer.\n\nProgram: ";
        text += module;
        text += "\nCommand line: ";
        text += commandLine;
        text += "\nCurrent directory: ";
        text += cwd;
        MessageBoxA(nullptr, text.c_str(), "Korvane installer (stand-in)", MB_OK | MB_ICONINFORMATION);
        return 0;
    }

    std::string dir(module);
    dir.resize(dir.rfind('\\') + 1);
    // The module and its folder are logged in their wide forms: a name that the
    // code page cannot write reads as '?' in the ANSI ones.
    wchar_t wideModule[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, wideModule, MAX_PATH);
    std::wstring wideDir(wideModule);
    wideDir.resize(wideDir.rfind(L'\\') + 1);
    std::string files;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((wideDir + L"*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!wcscmp(fd.cFileName, L".") || !wcscmp(fd.cFileName, L"..")) continue;
            std::wstring name = fd.cFileName;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) name += L'\\';
            files += (files.empty() ? "" : ",") + jsonWide(name);
        } while (FindNextFileW(find, &fd));
        FindClose(find);
    }

    DWORD pid = GetCurrentProcessId();
    ULONGLONG started = GetTickCount64();
    appendLine(log, "{\"event\":\"start\",\"module\":" + jsonWide(wideModule) +
                        ",\"cmdline\":" + jsonText(commandLine) + ",\"cwd\":" + jsonText(cwd) +
                        ",\"time\":\"" + timeText() + "\",\"tick\":" + std::to_string(started) +
                        ",\"pid\":" + std::to_string(pid) + ",\"files\":[" + files + "]}\n");

    DWORD ms = plannedMs(module);
    std::string relaunchMs = envVar("KORVANE_STANDIN_RELAUNCH");
    bool isCopy = commandLine.find("_?=") != std::string::npos;
    bool isLingering = commandLine.find("--linger") != std::string::npos;
    std::string stop = envVar("KORVANE_STANDIN_STOP");
    const char* reason = "done";
    int status = 0;
    std::string lingerText, lingerFolder;
    DWORD lingerMs = 0;
    bool lingerConsole = false;
    bool lingers = lingerPlan(lingerText, lingerFolder, lingerMs, lingerConsole);
    if (lingers && !isLingering && lower(module).find(lower(lingerText)) != std::string::npos &&
        !startLingering(module, lingerFolder)) {
        reason = "linger failed";
        status = 1;
    }
    if (!isCopy && !isLingering && !envVar("KORVANE_STANDIN_HELPERS").empty() && !startHelpers(module)) {
        reason = "helpers failed";
        status = 1;
    }
    bool relaunchesAgain = false;
    if (isLingering) {
        // Only lingers: neither relaunches nor follows the plan.
        ms = lingerMs;
        // A console of its own: under Wine a program may be attached to its
        // starter's console, where AllocConsole fails and no host is started.
        if (lingerConsole) FreeConsole();
        if (lingerConsole && !AllocConsole()) {
            reason = "console failed";
            status = 1;
            ms = 0;
        }
    } else if (!relaunchMs.empty() && isCopy) {
        ms = strtoul(relaunchMs.c_str(), nullptr, 10);
        relaunchesAgain = relaunchMs.find("again") != std::string::npos &&
                          commandLine.find("--last") == std::string::npos;
    } else if (!relaunchMs.empty() && status == 0) {
        bool relaunched = relaunch(module, dir, relaunchMs.find("breakaway") != std::string::npos, "");
        reason = relaunched ? "relaunched" : "relaunch failed";
        status = relaunched ? 0 : 1;
        ms = 0;
    }
    while (GetTickCount64() - started < ms) {
        if (!stop.empty() && GetFileAttributesA(stop.c_str()) != INVALID_FILE_ATTRIBUTES) {
            reason = "stopped";
            break;
        }
        Sleep(20);
    }
    if (relaunchesAgain && strcmp(reason, "done") == 0) {
        bool relaunched = relaunch(module, dir, false, " --last");
        reason = relaunched ? "relaunched" : "relaunch failed";
        status = relaunched ? 0 : 1;
    }
    ULONGLONG ended = GetTickCount64();
    appendLine(log, "{\"event\":\"exit\",\"module\":" + jsonWide(wideModule) + ",\"pid\":" +
                        std::to_string(pid) + ",\"time\":\"" + timeText() + "\",\"tick\":" +
                        std::to_string(ended) + ",\"reason\":\"" + reason + "\"}\n");
    return status;
}
