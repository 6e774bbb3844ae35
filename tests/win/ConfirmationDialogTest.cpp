// The confirmation dialog under Wine: its compiled template, the text and its
// format, the painted banner, every way it can end, and its failures.
#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "MessageRecorder.h"
#include "SeamGuards.h"
#include "app/Framework.h"
#include "core/SetupState.h"
#include "res/ResourceIds.h"
#include "ui/ConfirmationDialog.h"
#include "ui/ConfirmationRules.h"

namespace {

const char knownCode[] = "3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13";
const char caption[] = "Installation Confirmation";

// ---- Reading the compiled extended dialog template.
struct TemplateReader {
    const BYTE* p;
    WORD word() { WORD v; std::memcpy(&v, p, 2); p += 2; return v; }
    DWORD dword() { DWORD v; std::memcpy(&v, p, 4); p += 4; return v; }
    // A string or an ordinal: "#n" for an ordinal.
    std::string text() {
        WORD first = word();
        if (first == 0xFFFF) return "#" + std::to_string(word());
        std::string s;
        for (WORD c = first; c != 0; c = word()) s += static_cast<char>(c);
        return s;
    }
    void align(const BYTE* base) { while ((p - base) % 4 != 0) ++p; }
};

struct TemplateControl {
    DWORD exStyle, style;
    short x, y, cx, cy;
    DWORD id;
    std::string windowClass, title;
};

// ---- Driving the dialog from a helper thread.
struct Observation {
    std::string richText;
    CHARFORMATA format{};
    LONG style = 0;
    SIZE frame{};
    COLORREF bannerPixels[3] = {CLR_INVALID, CLR_INVALID, CLR_INVALID};
    RECT window{};
    bool stillOpenAfterStrayCommand = false;
};

// Points of the banner picture (469 x 141) in calm parts of its artwork: the dark
// top left, the light band at the bottom right, and the right edge, which only a
// banner that fills a frame wider than the picture reaches.
const POINT bannerProbes[] = {{40, 30}, {440, 125}, {466, 70}};
const int bannerWidth = 469, bannerHeight = 141;

enum class Action { install, cancel, close, escape, enter, strayThenInstall, none };

struct Driver {
    Action action;
    Observation seen;
    bool found = false;
};

HWND waitForDialog(int milliseconds) {
    for (int waited = 0; waited < milliseconds; waited += 20) {
        HWND dialog = FindWindowA("#32770", caption);
        if (dialog != nullptr && IsWindowVisible(dialog)) return dialog;
        Sleep(20);
    }
    return nullptr;
}

void observe(HWND dialog, Observation& seen) {
    HWND text = GetDlgItem(dialog, IDC_CONFIRMATION_TEXT);
    char buffer[1024] = {};
    GetWindowTextA(text, buffer, sizeof buffer);
    seen.richText = buffer;
    // The text itself, without the closing paragraph mark, which keeps the default format.
    SendMessageA(text, EM_SETSEL, 0, static_cast<LPARAM>(seen.richText.size()));
    seen.format.cbSize = sizeof seen.format;
    SendMessageA(text, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&seen.format));
    seen.style = GetWindowLongA(dialog, GWL_STYLE);
    GetWindowRect(dialog, &seen.window);
    // The probes where the picture puts them in the frame: pixel for pixel when the
    // frame is as wide as the picture, else scaled to the frame's size.
    RECT frame;
    GetWindowRect(GetDlgItem(dialog, IDC_BANNER_FRAME), &frame);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&frame), 2);
    seen.frame = {frame.right - frame.left, frame.bottom - frame.top};
    const bool exact = std::abs(seen.frame.cx - bannerWidth) <= 1;
    UpdateWindow(dialog);
    HDC dc = GetDC(dialog);
    for (int i = 0; i < 3; ++i) {
        const POINT p = bannerProbes[i];
        const int x = exact ? p.x : MulDiv(2 * p.x + 1, seen.frame.cx, 2 * bannerWidth);
        const int y = exact ? p.y : MulDiv(2 * p.y + 1, seen.frame.cy, 2 * bannerHeight);
        seen.bannerPixels[i] = GetPixel(dc, frame.left + x, frame.top + y);
    }
    ReleaseDC(dialog, dc);
}

DWORD WINAPI drive(void* parameter) {
    auto& driver = *static_cast<Driver*>(parameter);
    HWND dialog = waitForDialog(driver.action == Action::none ? 1500 : 10000);
    if (dialog == nullptr) return 0;
    driver.found = true;
    Sleep(200);  // let it paint
    observe(dialog, driver.seen);
    HWND focus = GetDlgItem(dialog, IDOK);
    switch (driver.action) {
    case Action::install: PostMessageA(dialog, WM_COMMAND, IDOK, 0); break;
    case Action::cancel: PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0); break;
    case Action::close: PostMessageA(dialog, WM_CLOSE, 0, 0); break;
    case Action::escape: PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0); break;
    case Action::enter: PostMessageA(focus, WM_KEYDOWN, VK_RETURN, 0); break;
    case Action::strayThenInstall:
        PostMessageA(dialog, WM_COMMAND, 1234, 0);
        Sleep(300);
        driver.seen.stillOpenAfterStrayCommand = IsWindow(dialog) && IsWindowVisible(dialog);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        break;
    case Action::none: PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0); break;
    }
    return 0;
}

// Runs fn on this thread while a helper thread acts on the dialog.
template <typename Fn>
int32_t withDriver(Driver& driver, Fn fn) {
    HANDLE thread = CreateThread(nullptr, 0, drive, &driver, 0, nullptr);
    int32_t status = fn();
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return status;
}

COLORREF bannerSourcePixel(int x, int y) {
    HBITMAP bitmap = LoadBitmapA(appInstance(), MAKEINTRESOURCEA(IDB_BANNER));
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    COLORREF pixel = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);
    return pixel;
}

// A scaled picture averages neighbouring pixels; in the calm places probed, the
// result stays within a few levels of the source.
bool closeColour(COLORREF seen, COLORREF source, int tolerance) {
    return seen != CLR_INVALID && std::abs(GetRValue(seen) - GetRValue(source)) <= tolerance &&
           std::abs(GetGValue(seen) - GetGValue(source)) <= tolerance &&
           std::abs(GetBValue(seen) - GetBValue(source)) <= tolerance;
}

}  // namespace

TEST(ConfirmationTemplate, IsCompiledExactlyAsDesigned) {
    HRSRC resource = FindResourceExA(nullptr, reinterpret_cast<LPCSTR>(RT_DIALOG),
                                     MAKEINTRESOURCEA(IDD_CONFIRMATION),
                                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_NE(resource, nullptr);
    const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, resource)));
    TemplateReader r{base};
    EXPECT_EQ(r.word(), 1);       // dlgVer
    EXPECT_EQ(r.word(), 0xFFFF);  // extended template
    EXPECT_EQ(r.dword(), 0u);     // help id
    EXPECT_EQ(r.dword(), 0u);     // extended style
    EXPECT_EQ(r.dword(), 0x80C000C8u);
    const WORD count = r.word();
    EXPECT_EQ(count, 4);
    const short frame[] = {static_cast<short>(r.word()), static_cast<short>(r.word()),
                           static_cast<short>(r.word()), static_cast<short>(r.word())};
    EXPECT_EQ(std::vector<short>(frame, frame + 4), (std::vector<short>{0, 0, 327, 157}));
    EXPECT_EQ(r.text(), "");  // no menu
    EXPECT_EQ(r.text(), "");  // default class
    EXPECT_EQ(r.text(), caption);
    EXPECT_EQ(r.word(), 8);    // points
    EXPECT_EQ(r.word(), 400);  // weight
    EXPECT_EQ(*r.p++, 0);      // not italic
    EXPECT_EQ(*r.p++, 1);      // DEFAULT_CHARSET
    EXPECT_EQ(r.text(), "MS Shell Dlg");

    const TemplateControl expected[] = {
        {0, 0x50010001, 215, 136, 50, 14, IDOK, "#128", "Install"},
        {0, 0x50010000, 270, 136, 50, 14, IDCANCEL, "#128", "Cancel"},
        {0, 0x50000007, 7, 7, 313, 88, IDC_BANNER_FRAME, "#130", ""},
        {0, 0x58010904, 7, 100, 313, 31, IDC_CONFIRMATION_TEXT, "RichEdit20A", ""},
    };
    for (WORD i = 0; i < count && i < 4; ++i) {
        r.align(base);
        SCOPED_TRACE("control " + std::to_string(i));
        EXPECT_EQ(r.dword(), 0u);  // help id
        TemplateControl seen;
        seen.exStyle = r.dword();
        seen.style = r.dword();
        seen.x = r.word(); seen.y = r.word(); seen.cx = r.word(); seen.cy = r.word();
        seen.id = r.dword();
        seen.windowClass = r.text();
        seen.title = r.text();
        const WORD extra = r.word();
        r.p += extra;
        EXPECT_EQ(seen.exStyle, expected[i].exStyle);
        EXPECT_EQ(seen.style, expected[i].style);
        EXPECT_EQ(seen.x, expected[i].x); EXPECT_EQ(seen.y, expected[i].y);
        EXPECT_EQ(seen.cx, expected[i].cx); EXPECT_EQ(seen.cy, expected[i].cy);
        EXPECT_EQ(seen.id, expected[i].id);
        // windres writes class names in upper case; Windows compares them without case.
        EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, seen.windowClass.c_str(), -1,
                                 expected[i].windowClass.c_str(), -1),
                  CSTR_EQUAL)
            << seen.windowClass;
        EXPECT_EQ(seen.title, expected[i].title);
        EXPECT_EQ(extra, 0);
    }
}

TEST(ConfirmationDialog, ShowsBoldTextAndBannerAndEndsAsTheUserChose) {
    struct Row { Action action; int32_t cancelled; const char* name; } rows[] = {
        {Action::install, 0, "Install"},  {Action::enter, 0, "Enter"},
        {Action::cancel, 1, "Cancel"},    {Action::escape, 1, "Escape"},
        {Action::close, 1, "close request"}, {Action::strayThenInstall, 0, "stray id"},
    };
    COLORREF sourcePixels[3];
    for (int i = 0; i < 3; ++i) sourcePixels[i] = bannerSourcePixel(bannerProbes[i].x, bannerProbes[i].y);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MessageRecorder recorder;
        SetupState state{};
        Driver driver{row.action, {}};
        int32_t cancelled = -5;
        const int32_t status = withDriver(driver, [&] {
            return confirmInstallation("Korvane", state, knownCode, cancelled);
        });
        ASSERT_TRUE(driver.found);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(cancelled, row.cancelled);
        EXPECT_TRUE(recorder.boxes.empty());
        EXPECT_EQ(state.bannerBitmapId, 137);
        EXPECT_NE(state.bannerBitmap, nullptr);
        EXPECT_EQ(driver.seen.richText, std::string(state.confirmationText));
        EXPECT_EQ(driver.seen.richText.rfind("Korvane v.2.0 is about to be installed.", 0), 0u);
        const CHARFORMATA& f = driver.seen.format;
        EXPECT_EQ(f.dwMask & (CFM_BOLD | CFM_SIZE | CFM_COLOR), CFM_BOLD | CFM_SIZE | CFM_COLOR);
        EXPECT_TRUE(f.dwEffects & CFE_BOLD);
        EXPECT_FALSE(f.dwEffects & CFE_AUTOCOLOR);
        EXPECT_EQ(f.yHeight, 170);
        EXPECT_EQ(f.crTextColor, RGB(0, 0, 0));
        EXPECT_FALSE(driver.seen.style & WS_SYSMENU);
        // The banner fills the frame: copied exactly where the frame is as wide as
        // the picture give or take a pixel (96 dpi), scaled onto it where it is
        // not (higher dpi; a wider substitute for the shell font).
        const bool exact = std::abs(driver.seen.frame.cx - bannerWidth) <= 1;
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE("probe " + std::to_string(i) + ", frame " + std::to_string(driver.seen.frame.cx) +
                         " x " + std::to_string(driver.seen.frame.cy));
            if (exact) EXPECT_EQ(driver.seen.bannerPixels[i], sourcePixels[i]);
            else EXPECT_TRUE(closeColour(driver.seen.bannerPixels[i], sourcePixels[i], 8))
                << std::hex << driver.seen.bannerPixels[i] << " vs " << sourcePixels[i];
        }
        if (row.action == Action::strayThenInstall) {
            EXPECT_TRUE(driver.seen.stillOpenAfterStrayCommand);
        }
    }
}

TEST(ConfirmationDialog, IsCentredOnTheWorkArea) {
    MessageRecorder recorder;
    SetupState state{};
    Driver driver{Action::install, {}};
    int32_t cancelled = 0;
    withDriver(driver, [&] { return confirmInstallation("Korvane", state, knownCode, cancelled); });
    RECT area;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    const RECT& w = driver.seen.window;
    EXPECT_LE(std::abs((w.left + w.right) - (area.left + area.right)), 2);
    EXPECT_LE(std::abs((w.top + w.bottom) - (area.top + area.bottom)), 2);
}

TEST(ConfirmationDialog, LongestProductNameIsShownWhole) {
    MessageRecorder recorder;
    SetupState state{};
    Driver driver{Action::install, {}};
    int32_t cancelled = 0;
    const std::string name(260, 'K');
    withDriver(driver, [&] { return confirmInstallation(name.c_str(), state, knownCode, cancelled); });
    EXPECT_EQ(std::strlen(state.confirmationText), 447u);
    EXPECT_EQ(driver.seen.richText.size(), 447u);
}

TEST(ConfirmationDialog, ForeignOrMissingProductCodeIsOneErrorNamingTheCause) {
    struct Row { const char* code; const char* text; } rows[] = {
        {"", textProductCodeMissing},
        {"3f1b7c2a-9d4e-4b6a-8c21-5e0d7a9b4c13", textProductCodeForeign},
        {"{3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13}", textProductCodeForeign},
        {"3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13 ", textProductCodeForeign},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        MessageRecorder recorder;
        SetupState state{};
        Driver driver{Action::none, {}};
        int32_t cancelled = -5;
        SetLastError(ERROR_ACCESS_DENIED);  // a stray last error must not be shown
        const int32_t status =
            withDriver(driver, [&] { return confirmInstallation("Korvane", state, row.code, cancelled); });
        EXPECT_EQ(status, -1);
        EXPECT_EQ(cancelled, 0);
        EXPECT_FALSE(driver.found);
        EXPECT_EQ(state.bannerBitmapId, 0);
        EXPECT_EQ(state.confirmationText[0], '\0');
        ASSERT_EQ(recorder.boxes.size(), 1u);
        EXPECT_EQ(recorder.boxes[0].text, row.text);
        EXPECT_EQ(recorder.boxes[0].caption, "Error");
        EXPECT_EQ(recorder.boxes[0].style, static_cast<unsigned>(MB_OK | MB_ICONERROR));
    }
}

// Never "The operation completed successfully.", nor a code left from before the
// dialog: an empty text inserts nothing and the rich edit sets no code for it,
// so it gets one that says the step could not be done; a banner id with no
// bitmap fails the first paint, with the code the system gave, if any.
TEST(ConfirmationDialog, OwnFailuresAreReportedOnceWithARealCodeAndEndWithMinusOne) {
    struct Row { const char* name; int32_t bitmapId; const char* text; bool withoutCode; } rows[] = {
        {"empty text", 137, "", true},
        {"missing bitmap", 999, "Korvane v.2.0 is about to be installed.", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MessageRecorder recorder;
        SetupState state{};
        state.bannerBitmapId = row.bitmapId;
        std::strcpy(state.confirmationText, row.text);
        Driver driver{Action::none, {}};
        int32_t cancelled = -5;
        SetLastError(ERROR_ACCESS_DENIED);
        const int32_t status = withDriver(driver, [&] { return runConfirmationDialog(state, cancelled); });
        EXPECT_EQ(status, -1);
        EXPECT_EQ(cancelled, 0);
        ASSERT_EQ(recorder.boxes.size(), 1u);
        EXPECT_EQ(recorder.boxes[0].caption, "Error");
        EXPECT_NE(recorder.boxes[0].text, systemText(0));
        EXPECT_NE(recorder.boxes[0].text, systemText(ERROR_ACCESS_DENIED));
        if (row.withoutCode) {
            EXPECT_EQ(recorder.boxes[0].text, systemText(ERROR_CAN_NOT_COMPLETE));
        }
    }
}

TEST(ConfirmationDialog, TemplateThatCannotBeCreatedIsReportedWithTheLastError) {
    MessageRecorder recorder;
    SetupState state{};
    AppInstanceGuard noTemplate(GetModuleHandleA("kernel32.dll"));  // has no template 131
    int32_t cancelled = -5;
    SetLastError(0);
    const int32_t status = runConfirmationDialog(state, cancelled);
    EXPECT_EQ(status, -1);
    EXPECT_EQ(cancelled, 0);
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].caption, "Error");
    EXPECT_NE(recorder.boxes[0].text, systemText(0));
}
