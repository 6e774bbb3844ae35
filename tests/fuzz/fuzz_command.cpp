// The split of a registered uninstall command and the composition of the paths
// and command line built from it, on arbitrary bytes in 261-byte heap buffers
// (so that AddressSanitizer sees any byte past them), with and without the
// double-byte table of code page 932.
//
// Input: one byte choosing the code page (bit 0) and whether the command fills
// the field without a terminator, as a registry value longer than the field is
// left by detection (bit 1); then the command (cut to the field).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "run/CommandRules.h"

namespace {

constexpr size_t width = 261;

bool cp932LeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

void check(bool condition) {
    if (!condition) std::abort();
}

std::unique_ptr<char[]> field(const uint8_t* data, size_t size) {
    std::unique_ptr<char[]> buffer(new char[width]);
    std::memset(buffer.get(), 0, width);
    if (size > 0) std::memcpy(buffer.get(), data, size < width - 1 ? size : width - 1);
    return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    LeadByteTest lead = (data[0] & 1) ? cp932LeadByte : noLeadBytes;
    auto command = field(data + 1, size - 1);
    const bool unterminated = (data[0] & 2) != 0;
    if (unterminated) {
        for (size_t i = 0; i < width; ++i)
            if (command[i] == '\0') command[i] = 'a';
    }
    std::unique_ptr<char[]> original(new char[width]);
    std::memcpy(original.get(), command.get(), width);
    auto arguments = field(reinterpret_cast<const uint8_t*>("untouched"), 9);

    CommandSplit outcome = splitUninstallCommand(command.get(), width, arguments.get(), width, lead);
    check(unterminated == (outcome == commandMayBeCut));
    if (unterminated) {
        check(std::memcmp(command.get(), original.get(), width) == 0);
        check(std::strcmp(arguments.get(), "untouched") == 0);
        return 0;
    }
    check(std::memchr(command.get(), 0, width) != nullptr);
    check(std::memchr(arguments.get(), 0, width) != nullptr);
    if (outcome != commandSplit) {
        check(std::memcmp(command.get(), original.get(), width) == 0);
        check(std::strcmp(arguments.get(), "untouched") == 0);
        return 0;
    }
    // A split always leaves a fully qualified path, and arguments without
    // leading blanks, both taken from the command.
    check(isFullyQualifiedPath(command.get()));
    check(arguments[0] != ' ');
    check(std::strlen(command.get()) + std::strlen(arguments.get()) < width);
    check(std::strstr(original.get(), command.get()) != nullptr);

    // The upgrade's compositions: never past a buffer, and "true" only when
    // the whole text is there.
    auto directory = field(nullptr, 0);
    if (directoryOf(directory.get(), width, command.get(), lead)) {
        size_t length = std::strlen(directory.get());
        check(length > 0 && directory[length - 1] == '\\');
        check(std::strncmp(directory.get(), command.get(), length) == 0);
    }
    auto staged = field(nullptr, 0);
    const char* temp = "C:\\Users\\u\\AppData\\Local\\Temp\\{7A2C5E91-4B0D-4f3a-8E6B-21C9D04F7A58}";
    bool whole = composeText(staged.get(), width, directory.get(), arguments.get(), temp);
    check(std::strlen(staged.get()) < width);
    check(whole == (std::strlen(directory.get()) + std::strlen(arguments.get()) + std::strlen(temp) < width));
    size_t before = std::strlen(arguments.get());
    whole = appendSilentSwitches(arguments.get(), width, temp);
    check(std::strlen(arguments.get()) < width);
    check(whole == (before + std::strlen(" /s /SMS /f1\"") + std::strlen(temp) + 1 < width));
    return 0;
}
