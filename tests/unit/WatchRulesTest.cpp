// Which program files lie in the folders whose processes carry on a maintenance
// run's work.
#include <gtest/gtest.h>

#include "run/WatchRules.h"

namespace {

// Code page 932: lead bytes 0x81-0x9F and 0xE0-0xFC; a trail byte may look like
// a backslash (0x5C) or a letter.
bool cp932LeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

struct FolderCase {
    const char* name;
    const char* path;
    const char* folder;
    bool inside;
};

const FolderCase folderCases[] = {
    {"a file in the folder", "C:\\Temp\\~nsu1.tmp", "C:\\Temp\\", true},
    {"in a subfolder", "C:\\Temp\\~nsu1.tmp\\Un_A.exe", "C:\\Temp\\", true},
    {"the folder without its backslash", "C:\\Temp\\Un_A.exe", "C:\\Temp", true},
    {"letters in another case", "c:\\USERS\\ann\\temp\\a.exe", "C:\\Users\\Ann\\Temp\\", true},
    {"a sibling whose name begins alike", "C:\\Temp2\\a.exe", "C:\\Temp", false},
    {"the folder itself", "C:\\Temp\\", "C:\\Temp\\", false},
    {"the folder itself, no backslash", "C:\\Temp", "C:\\Temp", false},
    {"the folder's parent", "C:\\a.exe", "C:\\Temp\\", false},
    {"another drive", "D:\\Temp\\a.exe", "C:\\Temp\\", false},
    {"an empty folder holds nothing", "C:\\a.exe", "", false},
    {"an empty path", "", "C:\\Temp\\", false},
    // 表 is 0x95 0x5C: its trail byte is no backslash, so "C:\表" ends without one.
    {"a folder ending in a trail byte 0x5C", "C:\\\x95\x5Cz.exe", "C:\\\x95\x5C", false},
    {"the same folder, then a backslash", "C:\\\x95\x5C\\a.exe", "C:\\\x95\x5C", true},
    // ア is 0x83 0x41 and ヂ 0x83 0x61: a trail byte is no letter to fold.
    {"a trail byte that looks like a letter", "C:\\\x83\x61\\a.exe", "C:\\\x83\x41\\", false},
    {"the same double-byte character", "C:\\\x83\x41\\a.exe", "C:\\\x83\x41\\", true},
};

TEST(WatchRules, AProgramFileLiesInAFolderTreeOnlyBelowItsWholeName) {
    for (const FolderCase& c : folderCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isInFolderTree(c.path, c.folder, cp932LeadByte), c.inside);
    }
}

}  // namespace
