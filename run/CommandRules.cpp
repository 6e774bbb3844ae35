#include "run/CommandRules.h"

#include "core/Texts.h"

namespace {

bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

bool isFullyQualifiedPath(const char* path) {
    if (isAsciiLetter(path[0]) && path[1] == ':' && path[2] == '\\') return true;
    return path[0] == '\\' && path[1] == '\\';
}

CommandSplit splitUninstallCommand(char* command, size_t commandCapacity, char* arguments,
                                   size_t argumentsCapacity, LeadByteTest isLeadByte) {
    if (commandCapacity == 0 || argumentsCapacity == 0) return commandNotQuoted;
    // Detection terminates a command only when it read it whole; one that filled
    // the buffer without a terminator may have lost its switches or its path's end.
    if (boundedLength(command, commandCapacity) == commandCapacity) return commandMayBeCut;
    char* firstQuote = findFirstChar(command, '"', isLeadByte);
    char* lastQuote = findLastChar(command, '"', isLeadByte);
    if (firstQuote == nullptr || lastQuote == firstQuote) return commandNotQuoted;
    *lastQuote = '\0';
    if (!isFullyQualifiedPath(firstQuote + 1)) {
        *lastQuote = '"';
        return commandPathNotQualified;
    }
    copyBounded(arguments, lastQuote + 1, argumentsCapacity);
    trimLeadingSpaces(arguments);
    // Forward move of the path to the start of the field.
    copyBounded(command, firstQuote + 1, commandCapacity);
    return commandSplit;
}

bool directoryOf(char* destination, size_t capacity, const char* path, LeadByteTest isLeadByte) {
    if (capacity == 0) return false;
    destination[0] = '\0';
    const char* lastBackslash = findLastChar(path, '\\', isLeadByte);
    if (lastBackslash == nullptr) return false;
    size_t length = static_cast<size_t>(lastBackslash - path) + 1;
    if (length >= capacity) return false;
    for (size_t i = 0; i < length; ++i) destination[i] = path[i];
    destination[length] = '\0';
    return true;
}

bool appendText(char* destination, size_t capacity, const char* first, const char* second,
                const char* third) {
    if (capacity == 0) return false;
    size_t wanted = boundedLength(destination, capacity);
    const char* const parts[] = {first, second, third};
    for (const char* part : parts) {
        size_t partLength = 0;
        while (part[partLength] != '\0') ++partLength;
        wanted += partLength;
        appendBounded(destination, capacity, part);
    }
    return wanted < capacity;
}

bool composeText(char* destination, size_t capacity, const char* first, const char* second,
                 const char* third) {
    if (capacity == 0) return false;
    destination[0] = '\0';
    return appendText(destination, capacity, first, second, third);
}

bool appendSilentSwitches(char* arguments, size_t capacity, const char* responseFile) {
    return appendText(arguments, capacity, silentSwitches, responseFile, "\"");
}
