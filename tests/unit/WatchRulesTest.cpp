// Which program files lie in the folders whose processes carry on a maintenance
// run's work.
#include <gtest/gtest.h>

#include "run/watch/WatchRules.h"

namespace {

// Case folding as a file system does it, for the scripts of the table: ASCII,
// Latin-1 and basic Cyrillic.
char16_t upper(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x430 && c <= 0x44F))
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
    return c;
}

bool sameIgnoringCase(const char16_t* a, const char16_t* b, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

struct FolderCase {
    const char* name;
    const char16_t* path;
    const char16_t* folder;
    bool inside;
};

// Final paths, as the file system gives them: with the \\?\ prefix, a junction
// or a subst drive already resolved.
const FolderCase folderCases[] = {
    {"a file in the folder", u"\\\\?\\C:\\Temp\\~nsu1.tmp", u"\\\\?\\C:\\Temp\\", true},
    {"in a subfolder", u"\\\\?\\C:\\Temp\\~nsu1.tmp\\Un_A.exe", u"\\\\?\\C:\\Temp", true},
    {"the folder without its backslash", u"\\\\?\\C:\\Temp\\Un_A.exe", u"\\\\?\\C:\\Temp", true},
    {"ASCII letters in another case", u"\\\\?\\c:\\USERS\\ann\\temp\\a.exe", u"\\\\?\\C:\\Users\\Ann\\Temp",
     true},
    {"Latin letters beyond ASCII in another case", u"\\\\?\\C:\\Users\\\u00C9lise\\Temp\\a.exe",
     u"\\\\?\\C:\\Users\\\u00E9lise\\Temp", true},
    // Алёна against АЛЁНА: ё and Ё lie 0x50 apart, not 0x20.
    {"a name outside the code page", u"\\\\?\\C:\\Users\\\u0410\u043B\u0451\u043D\u0430\\Temp\\a.exe",
     u"\\\\?\\C:\\Users\\\u0410\u041B\u0401\u041D\u0410\\Temp", true},
    {"another name outside the code page", u"\\\\?\\C:\\Users\\\u0410\u043D\u043A\u0430\\Temp\\a.exe",
     u"\\\\?\\C:\\Users\\\u0410\u043D\u043D\u0430\\Temp", false},
    {"a sibling whose name begins alike", u"\\\\?\\C:\\Temp2\\a.exe", u"\\\\?\\C:\\Temp", false},
    {"the folder itself", u"\\\\?\\C:\\Temp\\", u"\\\\?\\C:\\Temp\\", false},
    {"the folder itself, no backslash", u"\\\\?\\C:\\Temp", u"\\\\?\\C:\\Temp", false},
    {"the folder and its backslash", u"\\\\?\\C:\\Temp\\", u"\\\\?\\C:\\Temp", false},
    {"the folder's parent", u"\\\\?\\C:\\a.exe", u"\\\\?\\C:\\Temp\\", false},
    {"another drive", u"\\\\?\\D:\\Temp\\a.exe", u"\\\\?\\C:\\Temp", false},
    {"a share", u"\\\\?\\UNC\\server\\share\\Temp\\a.exe", u"\\\\?\\UNC\\server\\share\\temp", true},
    {"an empty folder holds nothing", u"\\\\?\\C:\\a.exe", u"", false},
    {"an empty path", u"", u"\\\\?\\C:\\Temp", false},
};

TEST(WatchRules, AProgramFileLiesInAFolderTreeOnlyBelowItsWholeName) {
    for (const FolderCase& c : folderCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isInFolderTree(c.path, c.folder, sameIgnoringCase), c.inside);
    }
}

}  // namespace
