// The split of a registered uninstall command and the composition of the
// maintenance run's paths. Buffers are exactly 261 bytes on the heap, so ASan
// sees any byte read or written past them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "run/CommandRules.h"

namespace {

constexpr size_t width = 261;

// Code page 932: lead bytes 0x81-0x9F and 0xE0-0xFC; a trail byte may look like
// a backslash (0x5C) or a double quote (0x22).
bool cp932LeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::unique_ptr<char[]> field(const std::string& text) {
    std::unique_ptr<char[]> buffer(new char[width]);
    std::memset(buffer.get(), 'x', width);
    std::memcpy(buffer.get(), text.c_str(), std::min(text.size() + 1, width));
    buffer[width - 1] = '\0';
    return buffer;
}

struct SplitCase {
    const char* name;
    std::string command;
    CommandSplit outcome;
    std::string path;       // on commandSplit
    std::string arguments;  // on commandSplit
};

const SplitCase splitCases[] = {
    {"quoted path and switches", "\"C:\\IS\\{A}\\setup.exe\" -runfromtemp -l0x0409 -removeonly",
     commandSplit, "C:\\IS\\{A}\\setup.exe", "-runfromtemp -l0x0409 -removeonly"},
    {"leading blanks of the switches go", "\"C:\\p\\setup.exe\"     -x", commandSplit,
     "C:\\p\\setup.exe", "-x"},
    {"nothing after the closing quote", "\"C:\\p\\setup.exe\"", commandSplit, "C:\\p\\setup.exe",
     ""},
    {"only blanks after the closing quote", "\"C:\\p\\setup.exe\"   ", commandSplit,
     "C:\\p\\setup.exe", ""},
    {"text before the first quote is dropped", "run \"D:\\p q\\s.exe\" /u", commandSplit,
     "D:\\p q\\s.exe", "/u"},
    {"network path", "\"\\\\srv\\share\\s.exe\" -u", commandSplit, "\\\\srv\\share\\s.exe", "-u"},
    {"quoted argument: the path runs to the last quote",
     "\"C:\\p\\s.exe\" -f1\"C:\\a.iss\" -x", commandSplit, "C:\\p\\s.exe\" -f1\"C:\\a.iss", "-x"},
    {"unquoted path with switches", "C:\\Program Files\\p\\setup.exe -x", commandNotQuoted, "",
     ""},
    {"msiexec product code", "MsiExec.exe /X{3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13}",
     commandNotQuoted, "", ""},
    {"path without its closing quote", "\"C:\\p\\setup.exe -x", commandNotQuoted, "", ""},
    {"empty command", "", commandNotQuoted, "", ""},
    {"empty quoted path", "\"\" -x", commandPathNotQualified, "", ""},
    {"bare program name", "\"setup.exe\" -x", commandPathNotQualified, "", ""},
    {"relative path", "\"p\\setup.exe\" -x", commandPathNotQualified, "", ""},
    {"rooted path without a drive", "\"\\p\\setup.exe\" -x", commandPathNotQualified, "", ""},
    {"drive-relative path", "\"C:setup.exe\" -x", commandPathNotQualified, "", ""},
    {"command of 260 characters, the whole field",
     "\"C:\\p\\setup.exe\" " + std::string(260 - 17, 'a'), commandSplit, "C:\\p\\setup.exe",
     std::string(260 - 17, 'a')},
    {"command one byte short of the field",
     "\"C:\\p\\setup.exe\" " + std::string(259 - 17, 'a'), commandSplit, "C:\\p\\setup.exe",
     std::string(259 - 17, 'a')},
};

}  // namespace

TEST(SplitUninstallCommand, Table) {
    for (const SplitCase& c : splitCases) {
        SCOPED_TRACE(c.name);
        auto command = field(c.command);
        auto arguments = field("untouched");
        CommandSplit outcome =
            splitUninstallCommand(command.get(), width, arguments.get(), width, noLeadBytes);
        EXPECT_EQ(outcome, c.outcome);
        if (c.outcome == commandSplit) {
            EXPECT_EQ(std::string(command.get()), c.path);
            EXPECT_EQ(std::string(arguments.get()), c.arguments);
        } else {
            EXPECT_EQ(std::string(command.get()), c.command.substr(0, width - 1));
            EXPECT_STREQ(arguments.get(), "untouched");
        }
    }
}

// What detection leaves of a value longer than the field: the field full, with
// no terminator. Whatever it holds, it is refused and left as it is.
TEST(SplitUninstallCommand, FieldWithoutTerminatorMayBeCutAndIsRefused) {
    const std::string starts[] = {"\"C:\\p\\setup.exe\" -x ", "\"C:\\" + std::string(300, 'p')};
    for (const std::string& start : starts) {
        SCOPED_TRACE(start.substr(0, 20));
        std::unique_ptr<char[]> command(new char[width]);
        std::memset(command.get(), 'a', width);
        std::memcpy(command.get(), start.data(), std::min(start.size(), width));
        std::unique_ptr<char[]> original(new char[width]);
        std::memcpy(original.get(), command.get(), width);
        auto arguments = field("untouched");
        EXPECT_EQ(splitUninstallCommand(command.get(), width, arguments.get(), width, noLeadBytes),
                  commandMayBeCut);
        EXPECT_EQ(std::memcmp(command.get(), original.get(), width), 0);
        EXPECT_STREQ(arguments.get(), "untouched");
    }
}

// 0x95 0x5C is one character (a backslash look-alike trail), 0x81 0x22 one with
// a quote look-alike trail.
TEST(SplitUninstallCommand, TrailBytesAreNeverQuotes) {
    struct Case {
        std::string command, path, arguments;
    };
    const Case cases[] = {
        {"\"C:\\\x95\x5c\\setup.exe\" -x", "C:\\\x95\x5c\\setup.exe", "-x"},
        {"\"C:\\a\x81\x22\\setup.exe\" -x", "C:\\a\x81\x22\\setup.exe", "-x"},
        {"\"C:\\p\\s.exe\" -n\x81\x22", "C:\\p\\s.exe", "-n\x81\x22"},
    };
    for (const Case& c : cases) {
        auto command = field(c.command);
        auto arguments = field("");
        ASSERT_EQ(splitUninstallCommand(command.get(), width, arguments.get(), width, cp932LeadByte),
                  commandSplit);
        EXPECT_EQ(std::string(command.get()), c.path);
        EXPECT_EQ(std::string(arguments.get()), c.arguments);
    }
    // The only "closing quote" is a trail byte: not a quoted path at all.
    auto command = field("\"C:\\a\x81\x22 -x");
    auto arguments = field("");
    EXPECT_EQ(splitUninstallCommand(command.get(), width, arguments.get(), width, cp932LeadByte),
              commandNotQuoted);
    // A lone lead byte at the end swallows nothing beyond the terminator.
    command = field("\"C:\\p\\s.exe\" -x\x81");
    ASSERT_EQ(splitUninstallCommand(command.get(), width, arguments.get(), width, cp932LeadByte),
              commandSplit);
    EXPECT_EQ(std::string(arguments.get()), "-x\x81");
}

TEST(DirectoryOf, CutsAfterTheLastRealBackslash) {
    struct Case {
        std::string path;
        bool found;
        std::string directory;
    };
    const Case cases[] = {
        {"C:\\IS\\{A}\\setup.exe", true, "C:\\IS\\{A}\\"},
        {"C:\\a\\\x95\x5c", true, "C:\\a\\"},               // ends in a 0x5C trail byte
        {"C:\\a\\\x83\x5c\\x.exe", true, "C:\\a\\\x83\x5c\\"},
        {"setup.exe", false, ""},
        {"\x95\x5csetup.exe", false, ""},
    };
    for (const Case& c : cases) {
        auto directory = field("zzz");
        EXPECT_EQ(directoryOf(directory.get(), width, c.path.c_str(), cp932LeadByte), c.found)
            << c.path;
        EXPECT_EQ(std::string(directory.get()), c.directory);
    }
}

TEST(ComposeText, RefusesAnyCut) {
    auto text = field("");
    const std::string head(250, 'h');
    EXPECT_TRUE(composeText(text.get(), width, head.c_str(), "\\", "123456789"));  // 260 bytes
    EXPECT_EQ(std::strlen(text.get()), 260u);
    EXPECT_FALSE(composeText(text.get(), width, head.c_str(), "\\", "1234567890"));
    EXPECT_EQ(text[width - 1], '\0');
    EXPECT_TRUE(composeText(text.get(), width, "C:\\T\\", "{X}"));
    EXPECT_STREQ(text.get(), "C:\\T\\{X}");
    EXPECT_TRUE(appendText(text.get(), width, head.c_str()));  // 8 + 250 bytes
    EXPECT_FALSE(appendText(text.get(), width, "abc"));        // 261 would not fit
}

TEST(AppendSilentSwitches, BuildsTheUpgradeCommandLine) {
    auto arguments = field("-runfromtemp -l0x0409");
    ASSERT_TRUE(appendSilentSwitches(arguments.get(), width, "C:\\T\\{X}\\v1uninst100.iss"));
    EXPECT_STREQ(arguments.get(),
                 "-runfromtemp -l0x0409 /s /SMS /f1\"C:\\T\\{X}\\v1uninst100.iss\"");

    arguments = field("");
    ASSERT_TRUE(appendSilentSwitches(arguments.get(), width, "C:\\r.iss"));
    EXPECT_STREQ(arguments.get(), " /s /SMS /f1\"C:\\r.iss\"");

    // Room for all but the closing quote: refused rather than cut.
    const std::string longPath(260 - 13 - 1 - 2, 'p');
    arguments = field("-x");
    EXPECT_TRUE(appendSilentSwitches(arguments.get(), width, longPath.c_str()));
    arguments = field("-xy");
    EXPECT_FALSE(appendSilentSwitches(arguments.get(), width, longPath.c_str()));
}
