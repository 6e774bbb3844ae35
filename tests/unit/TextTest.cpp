// Bounded text operations and the multibyte-aware searches. Buffers are placed
// in exactly-sized heap blocks so that ASan catches a single byte written or read
// past a capacity.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "core/Text.h"

namespace {

// Code page 932: lead bytes 0x81-0x9F and 0xE0-0xFC. Trail bytes may be 0x5C
// (backslash) or 0x22 (double quote) look-alikes.
bool cp932LeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::unique_ptr<char[]> exactBuffer(size_t capacity, char fill = 'x') {
    std::unique_ptr<char[]> buffer(new char[capacity]);
    std::memset(buffer.get(), fill, capacity);
    return buffer;
}

}  // namespace

TEST(CopyBounded, CutsAtCapacityAndTerminates) {
    std::string source(300, 'a');
    auto destination = exactBuffer(261);
    copyBounded(destination.get(), source.c_str(), 261);
    EXPECT_EQ(std::string(destination.get()), std::string(260, 'a'));
}

TEST(CopyBounded, ShortSourceZeroFillsTheWholeCapacity) {
    auto destination = exactBuffer(261);
    copyBounded(destination.get(), "", 261);
    for (size_t i = 0; i < 261; ++i) ASSERT_EQ(destination[i], '\0') << i;
    copyBounded(destination.get(), "abc", 261);
    EXPECT_STREQ(destination.get(), "abc");
    EXPECT_EQ(destination[260], '\0');
}

TEST(CopyBounded, CutsInsideADoubleByteCharacterByBytes) {
    auto destination = exactBuffer(3);
    copyBounded(destination.get(), "a\x95\x5c", 3);  // 'a' then a two-byte character
    EXPECT_EQ(std::string(destination.get()), std::string("a\x95"));
}

TEST(CopyBounded, MovesTextForwardInPlace) {
    char field[261];
    copyBounded(field, "xx\"C:\\p\\setup.exe\" -u", sizeof field);
    copyBounded(field, field + 3, sizeof field);
    EXPECT_STREQ(field, "C:\\p\\setup.exe\" -u");
}

TEST(AppendBounded, AppendsOnlyWhatFits) {
    auto destination = exactBuffer(261);
    std::string start(259, 'd');
    copyBounded(destination.get(), start.c_str(), 261);
    appendBounded(destination.get(), 261, "abc");
    EXPECT_EQ(std::string(destination.get()), start + "a");
    appendBounded(destination.get(), 261, "abc");  // full now: unchanged
    EXPECT_EQ(std::string(destination.get()), start + "a");
}

TEST(AppendBounded, CutsAnUnterminatedDestinationAtItsCapacity) {
    auto destination = exactBuffer(8, 'q');  // no terminator anywhere
    appendBounded(destination.get(), 8, "abc");
    EXPECT_EQ(std::string(destination.get()), "qqqqqqq");
}

TEST(ComposeText, RefusesAnyCut) {
    auto text = exactBuffer(261, '\0');
    const std::string head(250, 'h');
    EXPECT_TRUE(composeText(text.get(), 261, head.c_str(), "\\", "123456789"));  // 260 bytes
    EXPECT_EQ(std::strlen(text.get()), 260u);
    EXPECT_FALSE(composeText(text.get(), 261, head.c_str(), "\\", "1234567890"));
    EXPECT_EQ(text[260], '\0');
    EXPECT_TRUE(composeText(text.get(), 261, "C:\\T\\", "{X}"));
    EXPECT_STREQ(text.get(), "C:\\T\\{X}");
    EXPECT_TRUE(appendText(text.get(), 261, head.c_str()));  // 8 + 250 bytes
    EXPECT_FALSE(appendText(text.get(), 261, "abc"));        // 261 would not fit
}

TEST(TrimLeadingSpaces, RemovesOnlyLeadingSpaces) {
    struct Row { const char* in; const char* out; } rows[] = {
        {"   -x", "-x"}, {"\t -x", "\t -x"}, {"    ", ""}, {"x  ", "x  "}, {"", ""}, {" a b", "a b"},
    };
    for (const Row& row : rows) {
        char text[16];
        copyBounded(text, row.in, sizeof text);
        trimLeadingSpaces(text);
        EXPECT_STREQ(text, row.out) << '"' << row.in << '"';
    }
}

TEST(FindChars, NeverMatchTheTrailByteOfADoubleByteCharacter) {
    // 表 is 0x95 0x5C and ソ is 0x83 0x5C in code page 932.
    char path[] = "C:\\\x95\x5c\\\x83\x5csetup.exe";
    char* last = findLastChar(path, '\\', cp932LeadByte);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last - path, 5);
    // The same bytes read in a single-byte code page hold three backslashes more.
    EXPECT_EQ(findLastChar(path, '\\', noLeadBytes) - path, 7);

    char quoted[] = "\x95\x22\"x\"";  // a trail byte that looks like a quote
    EXPECT_EQ(findFirstChar(quoted, '"', cp932LeadByte) - quoted, 2);
    EXPECT_EQ(findLastChar(quoted, '"', cp932LeadByte) - quoted, 4);
}

TEST(FindChars, LoneLeadByteAtTheEndEndsTheSearch) {
    char text[] = "ab\x95";
    EXPECT_EQ(findFirstChar(text, '\\', cp932LeadByte), nullptr);
    EXPECT_EQ(findLastChar(text, 'b', cp932LeadByte) - text, 1);
    char empty[] = "";
    EXPECT_EQ(findFirstChar(empty, '"', cp932LeadByte), nullptr);
}
