// robot: drives one run of the launcher the way a user would, and writes down
// everything the user saw.
//
//   robot.exe <script>
//
// The script is UTF-8 text, one command per line, fields separated by tabs
// (in a field, \t \n \\ stand for tab, newline and backslash):
//
//   regdel     <view> <key>                       delete a key with all below it
//   regdelval  <view> <key> <name>                delete one value
//   regkey     <view> <key>                       create a key
//   regset     <view> <key> <name> <type> <data>  type sz|expand_sz (text, stored
//                                                 with its terminator), dword
//                                                 (number), binary (hex)
//   regraw     <view> <key> <name> <type> <hex>   exactly these bytes, through the
//                                                 ANSI call (so a REG_SZ of N bytes
//                                                 without a terminator is possible)
//   exe <path>  cwd <dir>  env <name> <value>  timeout <ms>  poll <ms>  out <path>
//   systext <code>                                also write the system's message
//                                                 text for this error code
//   answer <action> <arg> <delay_ms> <hold_ms> <marker> [<quiet_ms>]
//   second <n>                                    when window n (1-based) has shown,
//                                                 start the launcher again and wait
//                                                 (at most 20 s) for that one to end,
//                                                 recording any window it shows
//   follow <ms>                                   also record and answer the windows
//                                                 of every program the launcher started
//                                                 (and those started by them), and after
//                                                 the launcher has ended wait for them
//                                                 to end, at most ms
//   regquery <view> <key>                         after the run, write the key's values
//                                                 (as text) into the transcript
//   shortpath <path>                              after the run, write the path's short
//                                                 (8.3) form, as GetShortPathNameW gives
//                                                 it ("" when it fails), in the
//                                                 order asked
//
// <view> is 32 or 64 (HKEY_LOCAL_MACHINE in that registry view) or hkcu.
// Actions: press (arg: button text without '&', or #id), wait (let it close by
// itself), escape, enter, close (SC_CLOSE), altf4. With hold_ms, the marker file
// is written when the window has been seen, and the answer waits until the
// marker is deleted or hold_ms has passed, so that a screenshot can be taken.
// With quiet_ms, once the window has settled the robot sends nothing to any window
// for that long and only watches for the launcher's end: a benchmark can then
// measure what the launcher costs on its own (every query is answered by the
// launcher's thread).
//
// Registry commands run first. Then the launcher is started, and every visible
// dialog (#32770) of its process is recorded once and answered by the next
// answer line; a window with none left is answered with Cancel (or its default
// button) so that a run cannot hang. The transcript is written as UTF-8 JSON.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using std::wstring;

wstring widen(const std::string& s, UINT cp = CP_UTF8) {
    if (s.empty()) return wstring();
    int n = MultiByteToWideChar(cp, 0, s.data(), (int)s.size(), nullptr, 0);
    wstring w(n, L'\0');
    MultiByteToWideChar(cp, 0, s.data(), (int)s.size(), &w[0], n);
    return w;
}

std::string utf8(const wstring& w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

std::string unescape(const std::string& s) {
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char c = s[++i];
            r += c == 't' ? '\t' : c == 'n' ? '\n' : c;
        } else {
            r += s[i];
        }
    }
    return r;
}

std::vector<BYTE> fromHex(const wstring& h) {
    std::vector<BYTE> b;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        b.push_back((BYTE)wcstoul(h.substr(i, 2).c_str(), nullptr, 16));
    return b;
}

// ---- JSON output -------------------------------------------------------

struct Json {
    std::string out;
    bool first = true;
    void sep() { if (!first) out += ','; first = false; }
    void key(const char* k) { sep(); out += '"'; out += k; out += "\":"; first = true; }
    void open(char c) { sep(); out += c; first = true; }
    void close(char c) { out += c; first = false; }
    void str(const wstring& w) {
        sep();
        out += '"';
        for (unsigned char c : utf8(w)) {
            if (c == '"' || c == '\\') { out += '\\'; out += (char)c; }
            else if (c < 0x20) { char e[8]; snprintf(e, sizeof e, "\\u%04x", c); out += e; }
            else out += (char)c;
        }
        out += '"';
    }
    void num(long long v) { sep(); out += std::to_string(v); }
    void boolean(bool v) { sep(); out += v ? "true" : "false"; }
    void null() { sep(); out += "null"; }
};

// ---- registry preparation ----------------------------------------------

std::vector<wstring> setupErrors;

bool view(const wstring& v, HKEY* root, REGSAM* flag) {
    if (v == L"32") { *root = HKEY_LOCAL_MACHINE; *flag = KEY_WOW64_32KEY; return true; }
    if (v == L"64") { *root = HKEY_LOCAL_MACHINE; *flag = KEY_WOW64_64KEY; return true; }
    if (v == L"hkcu") { *root = HKEY_CURRENT_USER; *flag = 0; return true; }
    return false;
}

DWORD regType(const wstring& t) {
    if (t == L"sz") return REG_SZ;
    if (t == L"expand_sz") return REG_EXPAND_SZ;
    if (t == L"dword") return REG_DWORD;
    if (t == L"binary") return REG_BINARY;
    if (t == L"multi_sz") return REG_MULTI_SZ;
    if (t == L"none") return REG_NONE;
    return (DWORD)wcstoul(t.c_str(), nullptr, 0);
}

LONG deleteTree(HKEY root, REGSAM flag, const wstring& path) {
    HKEY k;
    LONG rc = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | flag, &k);
    if (rc != ERROR_SUCCESS) return rc;
    std::vector<wstring> subkeys;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD n = 256;
        if (RegEnumKeyExW(k, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.push_back(name);
    }
    RegCloseKey(k);
    for (const wstring& s : subkeys) deleteTree(root, flag, path + L"\\" + s);
    return RegDeleteKeyExW(root, path.c_str(), flag, 0);
}

void registryCommand(const std::vector<wstring>& f) {
    HKEY root;
    REGSAM flag;
    if (f.size() < 3 || !view(f[1], &root, &flag)) {
        setupErrors.push_back(L"bad registry command: " + f[0]);
        return;
    }
    const wstring& cmd = f[0];
    LONG rc = ERROR_SUCCESS;
    if (cmd == L"regdel") {
        rc = deleteTree(root, flag, f[2]);
        if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
    } else {
        HKEY k;
        rc = RegCreateKeyExW(root, f[2].c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | flag, nullptr, &k, nullptr);
        if (rc == ERROR_SUCCESS) {
            wstring name = f.size() > 3 ? f[3] : wstring();
            wstring type = f.size() > 4 ? f[4] : wstring();
            wstring data = f.size() > 5 ? f[5] : wstring();
            if (cmd == L"regdelval") {
                rc = RegDeleteValueW(k, name.c_str());
                if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
            } else if (cmd == L"regraw") {
                std::vector<BYTE> b = fromHex(data);
                std::string aname = utf8(name);  // value names here are plain ASCII
                rc = RegSetValueExA(k, aname.c_str(), 0, regType(type), b.data(), (DWORD)b.size());
            } else if (cmd == L"regset") {
                DWORD t = regType(type);
                if (t == REG_DWORD) {
                    DWORD v = (DWORD)wcstoul(data.c_str(), nullptr, 0);
                    rc = RegSetValueExW(k, name.c_str(), 0, t, (const BYTE*)&v, sizeof v);
                } else if (t == REG_BINARY) {
                    std::vector<BYTE> b = fromHex(data);
                    rc = RegSetValueExW(k, name.c_str(), 0, t, b.data(), (DWORD)b.size());
                } else {
                    rc = RegSetValueExW(k, name.c_str(), 0, t, (const BYTE*)data.c_str(),
                                        (DWORD)((data.size() + 1) * sizeof(wchar_t)));
                }
            }
            RegCloseKey(k);
        }
    }
    if (rc != ERROR_SUCCESS)
        setupErrors.push_back(cmd + L" " + f[2] + L": error " + std::to_wstring(rc));
}

// What a key holds after the run: every value as text (numbers in decimal,
// binary data in hex); exists false when the key cannot be opened.
void writeRegistryKey(Json& j, const wstring& viewName, const wstring& path) {
    j.open('{');
    j.key("view"); j.str(viewName);
    j.key("key"); j.str(path);
    HKEY root;
    REGSAM flag;
    HKEY k = nullptr;
    bool exists = view(viewName, &root, &flag) &&
                  RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | flag, &k) == ERROR_SUCCESS;
    j.key("exists"); j.boolean(exists);
    j.key("values"); j.open('{');
    for (DWORD i = 0; exists; ++i) {
        wchar_t name[512];
        DWORD nameLength = 512, type = 0, size = 0;
        if (RegEnumValueW(k, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size + sizeof(wchar_t), 0);
        nameLength = 512;
        if (RegEnumValueW(k, i, name, &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
        j.key(utf8(name).c_str());
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            j.str(wstring((const wchar_t*)data.data()));
        } else if (type == REG_DWORD && size >= sizeof(DWORD)) {
            j.str(std::to_wstring(*(const DWORD*)data.data()));
        } else {
            wstring hex;
            for (DWORD b = 0; b < size; ++b) {
                wchar_t two[3];
                swprintf(two, 3, L"%02x", data[b]);
                hex += two;
            }
            j.str(hex);
        }
    }
    j.close('}');
    j.close('}');
    if (k) RegCloseKey(k);
}

// ---- the launcher's family: it and every program started from it ------------

bool contains(const std::vector<DWORD>& v, DWORD x) {
    for (DWORD y : v) if (y == x) return true;
    return false;
}

// Adds to family every process whose parent is a member (the parent may have
// ended: an uninstaller that relaunches itself from %TEMP% ends at once), and
// returns the members that are running.
std::vector<DWORD> runningFamily(std::vector<DWORD>& family) {
    std::vector<std::pair<DWORD, DWORD>> all;  // pid, parent
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32W e = {};
        e.dwSize = sizeof e;
        for (BOOL ok = Process32FirstW(snap, &e); ok; ok = Process32NextW(snap, &e))
            all.push_back({e.th32ProcessID, e.th32ParentProcessID});
        CloseHandle(snap);
    }
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& p : all)
            if (!contains(family, p.first) && contains(family, p.second)) {
                family.push_back(p.first);
                grew = true;
            }
    }
    std::vector<DWORD> running;
    for (const auto& p : all)
        if (contains(family, p.first)) running.push_back(p.first);
    return running;
}

// ---- windows seen -------------------------------------------------------

struct Step {
    wstring action = L"press", arg;
    DWORD delayMs = 0, holdMs = 0, quietMs = 0;
    wstring marker;
};

struct Button {
    wstring text, raw;
    int id;
    bool defpush, enabled;
};

struct Seen {
    HWND hwnd;
    DWORD pid = 0;
    wstring caption, message, richedit, iconKind;
    std::vector<wstring> statics;
    std::vector<Button> buttons;
    int defaultId = 0;
    bool icon = false, sysmenu = false, progress = false;
    int pos = 0, posFirst = 0, lo = 0, hi = 0, maxPos = 0;
    DWORD shownMs = 0, dueMs = 0, holdUntil = 0;
    long long goneMs = -1;
    bool settled = false, answered = false, unscripted = false;
    Step step;
    wstring answer;
};

wstring controlText(HWND h) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 1000, &len)) return wstring();
    wstring t(len + 1, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(h, WM_GETTEXT, len + 1, (LPARAM)&t[0], SMTO_ABORTIFHUNG, 1000, &got);
    t.resize(got);
    return t;
}

wstring className(HWND h) {
    wchar_t c[64] = L"";
    GetClassNameW(h, c, 64);
    return c;
}

// The kind of a message-box icon, told by its colours on the screen: red (error),
// yellow (warning) or blue (information, question).
wstring iconKind(HWND icon) {
    RECT r;
    if (!GetWindowRect(icon, &r)) return L"unknown";
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0 || w > 256 || h > 256) return L"unknown";
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    int red = 0, yellow = 0, blue = 0;
    const BYTE* p = (const BYTE*)bits;
    for (int i = 0; bits && i < w * h; ++i, p += 4) {
        int b = p[0], g = p[1], rr = p[2];
        if (rr > 150 && g < 90 && b < 90) ++red;
        else if (rr > 180 && g > 150 && b < 90) ++yellow;
        else if (b > 150 && rr < 110) ++blue;
    }
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    int most = red > yellow ? (red > blue ? red : blue) : (yellow > blue ? yellow : blue);
    if (most < w * h / 20) return L"unknown";
    return most == red ? L"error" : most == yellow ? L"warning" : L"information";
}

BOOL CALLBACK collectChild(HWND h, LPARAM lp) {
    std::vector<HWND>* v = (std::vector<HWND>*)lp;
    v->push_back(h);
    return TRUE;
}

void capture(Seen& s) {
    wchar_t cap[512] = L"";
    GetWindowTextW(s.hwnd, cap, 512);
    s.caption = cap;
    s.sysmenu = (GetWindowLongW(s.hwnd, GWL_STYLE) & WS_SYSMENU) != 0;
    s.statics.clear();
    s.buttons.clear();
    s.icon = false;
    DWORD_PTR def = 0;
    if (SendMessageTimeoutW(s.hwnd, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 1000, &def) && HIWORD(def) == DC_HASDEFID)
        s.defaultId = LOWORD(def);
    std::vector<HWND> children;
    EnumChildWindows(s.hwnd, collectChild, (LPARAM)&children);
    for (HWND c : children) {
        if (GetParent(c) != s.hwnd || !IsWindowVisible(c)) continue;
        wstring cls = className(c);
        LONG style = GetWindowLongW(c, GWL_STYLE);
        int id = GetDlgCtrlID(c);
        if (!lstrcmpiW(cls.c_str(), L"Static")) {
            if ((style & SS_TYPEMASK) == SS_ICON) {
                // A message box without an icon style keeps an empty icon control.
                DWORD_PTR icon = 0;
                SendMessageTimeoutW(c, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 1000, &icon);
                if (icon) {
                    s.icon = true;
                    s.iconKind = iconKind(c);
                }
            } else if (id == 0xFFFF) {
                s.message = controlText(c);
            } else {
                wstring t = controlText(c);
                if (!t.empty()) s.statics.push_back(t);
            }
        } else if (!lstrcmpiW(cls.c_str(), L"Button")) {
            Button b;
            b.raw = controlText(c);
            for (wchar_t ch : b.raw) if (ch != L'&') b.text += ch;
            b.id = id;
            b.defpush = (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
            b.enabled = IsWindowEnabled(c) != FALSE;
            s.buttons.push_back(b);
        } else if (cls.compare(0, 8, L"RichEdit") == 0) {
            s.richedit = controlText(c);
        } else if (cls == PROGRESS_CLASSW) {
            s.progress = true;
            DWORD_PTR lo = 0, hi = 0;
            SendMessageTimeoutW(c, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, 1000, &lo);
            SendMessageTimeoutW(c, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 1000, &hi);
            s.lo = (int)lo;
            s.hi = (int)hi;
        }
    }
}

void trackProgress(Seen& s, bool first) {
    HWND bar = FindWindowExW(s.hwnd, nullptr, PROGRESS_CLASSW, nullptr);
    DWORD_PTR pos = 0;
    if (!bar || !SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 200, &pos)) return;
    s.pos = (int)pos;
    if (first) s.posFirst = s.pos;
    if (s.pos > s.maxPos) s.maxPos = s.pos;
}

void postKey(HWND dlg, UINT msg, UINT vk, LPARAM extra) {
    GUITHREADINFO gti = {};
    gti.cbSize = sizeof gti;
    HWND target = dlg;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dlg, nullptr), &gti) && gti.hwndFocus &&
        (gti.hwndFocus == dlg || IsChild(dlg, gti.hwndFocus)))
        target = gti.hwndFocus;
    LPARAM scan = (LPARAM)MapVirtualKeyW(vk, 0) << 16;
    PostMessageW(target, msg, vk, 1 | scan | extra);
    PostMessageW(target, msg + 1, vk, 1 | scan | extra | 0xC0000000);
}

void answerUnscripted(Seen& s);

void answer(Seen& s) {
    const wstring& a = s.step.action;
    s.answer = a + (s.step.arg.empty() ? L"" : L" " + s.step.arg);
    if (a == L"press") {
        int id = -1;
        HWND btn = nullptr;
        for (const Button& b : s.buttons)
            if ((s.step.arg[0] == L'#' && b.id == _wtoi(s.step.arg.c_str() + 1)) || b.text == s.step.arg) id = b.id;
        if (id < 0) {  // not the window the script expected: do not hang on it
            wstring asked = s.answer;
            answerUnscripted(s);
            s.answer = asked + L" (no such button); " + s.answer;
            return;
        }
        btn = GetDlgItem(s.hwnd, id);
        PostMessageW(s.hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)btn);
    } else if (a == L"escape") {
        postKey(s.hwnd, WM_KEYDOWN, VK_ESCAPE, 0);
    } else if (a == L"enter") {
        postKey(s.hwnd, WM_KEYDOWN, VK_RETURN, 0);
    } else if (a == L"altf4") {
        postKey(s.hwnd, WM_SYSKEYDOWN, VK_F4, (LPARAM)KF_ALTDOWN << 16);
    } else if (a == L"close") {
        PostMessageW(s.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    // "wait": nothing; the window is expected to close by itself
}

void answerUnscripted(Seen& s) {
    int id = s.defaultId ? s.defaultId : IDOK;
    for (const Button& b : s.buttons)
        if (b.id == IDCANCEL) id = IDCANCEL;
    s.answer = L"unscripted: #" + std::to_wstring(id);
    PostMessageW(s.hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(s.hwnd, id));
}

struct Finder {
    DWORD pid;
    std::vector<HWND> found;
    std::vector<DWORD> pids;  // findDialogs: any of these processes
};

BOOL CALLBACK findDialogs(HWND h, LPARAM lp) {
    Finder* f = (Finder*)lp;
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (contains(f->pids, pid) && IsWindowVisible(h) && className(h) == L"#32770") f->found.push_back(h);
    return TRUE;
}

// What became of a second launcher started while the first one runs.
struct Second {
    bool launched = false, ended = false, frontAfter = false;
    DWORD exitMs = 0, exitCode = 0;
    std::vector<HWND> windows;
};

BOOL CALLBACK findAnyWindow(HWND h, LPARAM lp) {
    Finder* f = (Finder*)lp;
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == f->pid && IsWindowVisible(h)) f->found.push_back(h);
    return TRUE;
}

Second startSecond(const wstring& exe, const wstring& cwd, HWND firstWindow, DWORD pollMs) {
    Second r;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ULONGLONG start = GetTickCount64();
    r.launched = CreateProcessW(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                                cwd.empty() ? nullptr : cwd.c_str(), &si, &pi) != FALSE;
    if (!r.launched) return r;
    while (GetTickCount64() - start < 20000) {
        Finder f = {pi.dwProcessId, {}, {}};
        EnumWindows(findAnyWindow, (LPARAM)&f);
        for (HWND h : f.found) {
            bool known = false;
            for (HWND k : r.windows) known = known || k == h;
            if (!known) r.windows.push_back(h);
        }
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
            r.ended = true;
            break;
        }
        Sleep(pollMs);
    }
    r.exitMs = (DWORD)(GetTickCount64() - start);
    if (!r.ended) {
        TerminateProcess(pi.hProcess, 259);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    GetExitCodeProcess(pi.hProcess, &r.exitCode);
    r.frontAfter = GetForegroundWindow() == firstWindow;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return r;
}

void writeWindow(Json& j, const Seen& s) {
    j.open('{');
    j.key("caption"); j.str(s.caption);
    j.key("pid"); j.num(s.pid);
    j.key("text"); j.str(s.message);
    j.key("statics"); j.open('[');
    for (const wstring& t : s.statics) j.str(t);
    j.close(']');
    j.key("richedit"); j.str(s.richedit);
    j.key("buttons"); j.open('[');
    for (const Button& b : s.buttons) {
        j.open('{');
        j.key("text"); j.str(b.text);
        j.key("raw"); j.str(b.raw);
        j.key("id"); j.num(b.id);
        j.key("defpush"); j.boolean(b.defpush);
        j.key("enabled"); j.boolean(b.enabled);
        j.close('}');
    }
    j.close(']');
    j.key("default_id"); j.num(s.defaultId);
    j.key("icon"); j.boolean(s.icon);
    j.key("icon_kind"); if (s.icon) j.str(s.iconKind); else j.null();
    j.key("sysmenu"); j.boolean(s.sysmenu);
    j.key("progress");
    if (s.progress) {
        j.open('{');
        j.key("min"); j.num(s.lo);
        j.key("max"); j.num(s.hi);
        j.key("first"); j.num(s.posFirst);
        j.key("last"); j.num(s.pos);
        j.key("highest"); j.num(s.maxPos);
        j.close('}');
    } else {
        j.null();
    }
    j.key("shown_ms"); j.num(s.shownMs);
    j.key("gone_ms"); if (s.goneMs >= 0) j.num(s.goneMs); else j.null();
    j.key("answer"); j.str(s.answer);
    j.key("unscripted"); j.boolean(s.unscripted);
    j.close('}');
}

// ---- the script -----------------------------------------------------------

struct Script {
    wstring exe, cwd, outPath;
    DWORD timeoutMs = 60000, pollMs = 25;
    std::vector<Step> steps;
    std::vector<DWORD> systemTexts;
    size_t secondAt = 0;
    bool follow = false;
    DWORD followMs = 0;
    std::vector<std::pair<wstring, wstring>> queries;
    std::vector<wstring> shortPaths;
};

std::vector<wstring> splitFields(const std::string& l) {
    std::vector<wstring> f;
    size_t start = 0;
    for (;;) {
        size_t tab = l.find('\t', start);
        f.push_back(widen(unescape(l.substr(start, tab == std::string::npos ? std::string::npos : tab - start))));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return f;
}

// One line of the script; registry preparation and environment happen at once.
void takeCommand(Script& sc, const std::vector<wstring>& f) {
    const wstring& c = f[0];
    wstring a1 = f.size() > 1 ? f[1] : wstring();
    if (c.compare(0, 3, L"reg") == 0 && c != L"regquery") registryCommand(f);
    else if (c == L"exe") sc.exe = a1;
    else if (c == L"cwd") sc.cwd = a1;
    else if (c == L"out") sc.outPath = a1;
    else if (c == L"timeout") sc.timeoutMs = wcstoul(a1.c_str(), nullptr, 10);
    else if (c == L"poll") sc.pollMs = wcstoul(a1.c_str(), nullptr, 10);
    else if (c == L"systext") sc.systemTexts.push_back(wcstoul(a1.c_str(), nullptr, 0));
    else if (c == L"second") sc.secondAt = wcstoul(a1.c_str(), nullptr, 10);
    else if (c == L"follow") { sc.follow = true; sc.followMs = wcstoul(a1.c_str(), nullptr, 10); }
    else if (c == L"regquery") sc.queries.push_back({a1, f.size() > 2 ? f[2] : wstring()});
    else if (c == L"shortpath") sc.shortPaths.push_back(a1);
    else if (c == L"env") SetEnvironmentVariableW(a1.c_str(), f.size() > 2 ? f[2].c_str() : L"");
    else if (c == L"answer") {
        Step s;
        s.action = a1;
        if (f.size() > 2) s.arg = f[2];
        if (f.size() > 3) s.delayMs = wcstoul(f[3].c_str(), nullptr, 10);
        if (f.size() > 4) s.holdMs = wcstoul(f[4].c_str(), nullptr, 10);
        if (f.size() > 5) s.marker = f[5];
        if (f.size() > 6) s.quietMs = wcstoul(f[6].c_str(), nullptr, 10);
        sc.steps.push_back(s);
    } else setupErrors.push_back(L"unknown command: " + c);
}

bool readScript(const wchar_t* path, Script& sc) {
    FILE* in = _wfopen(path, L"rb");
    if (!in) return false;
    char line[8192];
    std::string pending;
    while (fgets(line, sizeof line, in)) {
        // A line longer than the buffer (a long registry value in hex) comes in parts.
        pending += line;
        if (pending.back() != '\n' && !feof(in)) continue;
        std::string l;
        l.swap(pending);
        while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
        if (l.empty() || l[0] == '#') continue;
        takeCommand(sc, splitFields(l));
    }
    fclose(in);
    return true;
}

// ---- the run ------------------------------------------------------------------

struct RunResult {
    std::vector<Seen> seen;
    Second second;
    bool launched = false, timedOut = false;
    DWORD launchError = 0, exitCode = 0;
    long long exitMs = -1;
    size_t familyLeft = 0;
    ULONGLONG launchTick = 0;
    DWORD quietUntil = 0;  // no window is queried before this
};

void markWritten(const wstring& marker) {
    HANDLE m = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(m);
}

// A window seen for the first time: recorded, and given the next answer.
Seen& firstSight(RunResult& r, const Script& sc, size_t& next, HWND h, DWORD now) {
    r.seen.push_back(Seen());
    Seen& s = r.seen.back();
    s.hwnd = h;
    GetWindowThreadProcessId(h, &s.pid);
    s.shownMs = now;
    capture(s);
    trackProgress(s, true);
    if (next < sc.steps.size()) s.step = sc.steps[next++];
    else s.unscripted = true;
    // Let the window settle (painting, focus) before it is answered.
    s.dueMs = now + 150 + s.step.delayMs;
    if (s.step.holdMs) {
        s.holdUntil = now + s.step.holdMs;
        if (!s.step.marker.empty()) markWritten(s.step.marker);
    }
    return s;
}

// A window seen again: its texts once painted, then its answer when due.
void followUp(RunResult& r, const Script& sc, Seen& s, DWORD now) {
    trackProgress(s, false);
    if (!s.settled && now >= s.shownMs + 120) {
        capture(s);  // texts and icon once painting has happened
        s.settled = true;
        if (s.step.quietMs) r.quietUntil = now + s.step.quietMs;
        if (sc.secondAt != 0 && sc.secondAt <= r.seen.size() && &s == &r.seen[sc.secondAt - 1] &&
            !r.second.launched) {
            r.second = startSecond(sc.exe, sc.cwd, s.hwnd, sc.pollMs);
            return;  // the clock has moved on
        }
    }
    bool holding = s.step.holdMs && now < s.holdUntil &&
                   (s.step.marker.empty() || GetFileAttributesW(s.step.marker.c_str()) != INVALID_FILE_ATTRIBUTES);
    if (!s.answered && s.settled && now >= s.dueMs && !holding) {
        s.answered = true;
        if (!s.step.marker.empty()) DeleteFileW(s.step.marker.c_str());
        if (s.unscripted) answerUnscripted(s);
        else answer(s);
    }
}

// Starts the launcher, records and answers its windows (and, when following, those
// of every program it started) until it has ended and, when following, they have.
RunResult runLauncher(const Script& sc) {
    RunResult r;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    r.launchTick = GetTickCount64();
    r.launched = CreateProcessW(sc.exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                                sc.cwd.empty() ? nullptr : sc.cwd.c_str(), &si, &pi) != FALSE;
    if (!r.launched) {
        r.launchError = GetLastError();
        return r;
    }
    size_t next = 0;
    std::vector<DWORD> family = {pi.dwProcessId};
    bool ended = false;
    for (;;) {
        DWORD now = (DWORD)(GetTickCount64() - r.launchTick);
        if (!ended && WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
            ended = true;
            r.exitMs = now;
            GetExitCodeProcess(pi.hProcess, &r.exitCode);
        }
        if (!ended && now < r.quietUntil) {
            Sleep(sc.pollMs);
            continue;
        }
        Finder f = {pi.dwProcessId, {}, {}};
        std::vector<DWORD> running;
        if (sc.follow) running = runningFamily(family);
        if (!ended) running.push_back(pi.dwProcessId);
        f.pids = running;
        if (!f.pids.empty()) EnumWindows(findDialogs, (LPARAM)&f);
        for (Seen& s : r.seen) {
            bool live = false;
            for (HWND h : f.found) live = live || h == s.hwnd;
            if (!live && s.goneMs < 0) s.goneMs = now;
        }
        for (HWND h : f.found) {
            Seen* s = nullptr;
            for (Seen& o : r.seen)
                if (o.hwnd == h && o.goneMs < 0) s = &o;
            if (!s) firstSight(r, sc, next, h, now);
            else followUp(r, sc, *s, now);
        }
        // Done when the launcher has ended and, when following, so has every
        // program it started (or the time allowed for them has passed).
        if (ended && (running.empty() || now > r.exitMs + sc.followMs)) {
            r.familyLeft = running.size();
            break;
        }
        if (!ended && now > sc.timeoutMs) {
            TerminateProcess(pi.hProcess, 259);
            WaitForSingleObject(pi.hProcess, 5000);
            r.timedOut = true;
            for (Seen& s : r.seen)
                if (s.goneMs < 0) s.goneMs = now;
            break;
        }
        Sleep(sc.pollMs);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return r;
}

// ---- the transcript ---------------------------------------------------------

std::string transcript(const Script& sc, const RunResult& r) {
    Json j;
    j.open('{');
    j.key("setup_errors"); j.open('[');
    for (const wstring& e : setupErrors) j.str(e);
    j.close(']');
    j.key("launched"); j.boolean(r.launched);
    j.key("launch_error"); j.num(r.launchError);
    j.key("launch_tick"); j.num((long long)r.launchTick);
    j.key("timed_out"); j.boolean(r.timedOut);
    j.key("exit_ms"); if (r.exitMs >= 0) j.num(r.exitMs); else j.null();
    j.key("exit_code"); j.num(r.exitCode);
    j.key("family_left"); j.num((long long)r.familyLeft);
    j.key("windows"); j.open('[');
    for (const Seen& s : r.seen) writeWindow(j, s);
    j.close(']');
    j.key("registry"); j.open('[');
    for (const auto& q : sc.queries) writeRegistryKey(j, q.first, q.second);
    j.close(']');
    if (r.second.launched) {
        j.key("second"); j.open('{');
        j.key("ended"); j.boolean(r.second.ended);
        j.key("exit_ms"); j.num(r.second.exitMs);
        j.key("exit_code"); j.num(r.second.exitCode);
        j.key("windows"); j.num((long long)r.second.windows.size());
        j.key("front_after"); j.boolean(r.second.frontAfter);
        j.close('}');
    }
    j.key("short_paths"); j.open('[');
    for (const wstring& path : sc.shortPaths) {
        wchar_t shortForm[MAX_PATH] = L"";
        DWORD n = GetShortPathNameW(path.c_str(), shortForm, MAX_PATH);
        j.str(n > 0 && n < MAX_PATH ? shortForm : L"");
    }
    j.close(']');
    j.key("system_texts"); j.open('{');
    for (DWORD code : sc.systemTexts) {
        wchar_t* text = nullptr;
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                       nullptr, code, LANG_USER_DEFAULT, (LPWSTR)&text, 0, nullptr);
        j.key(std::to_string(code).c_str());
        j.str(text ? text : L"");
        LocalFree(text);
    }
    j.close('}');
    j.close('}');
    j.out += '\n';
    return j.out;
}

void writeOut(const wstring& path, const std::string& text) {
    if (path.empty()) {
        fwrite(text.data(), 1, text.size(), stdout);
        return;
    }
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, text.data(), (DWORD)text.size(), &written, nullptr);
    CloseHandle(h);
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 2) {
        fprintf(stderr, "usage: robot <script>\n");
        return 1;
    }
    Script sc;
    if (!readScript(argv[1], sc)) {
        fprintf(stderr, "robot: cannot read the script\n");
        return 1;
    }
    RunResult r;
    // Without a launcher the script only prepares the registry.
    if (!sc.exe.empty() && setupErrors.empty()) r = runLauncher(sc);
    writeOut(sc.outPath, transcript(sc, r));
    if (!setupErrors.empty()) return 3;
    return r.timedOut ? 2 : 0;
}
