#include "core/Text.h"

#include <cstring>

bool noLeadBytes(unsigned char) { return false; }

void copyBounded(char* destination, const char* source, size_t capacity) {
    if (capacity == 0) return;
    // Forward, byte by byte: safe when the destination lies before the source.
    size_t i = 0;
    for (; i < capacity && source[i] != '\0'; ++i) destination[i] = source[i];
    for (; i < capacity; ++i) destination[i] = '\0';
    destination[capacity - 1] = '\0';
}

void appendBounded(char* destination, size_t capacity, const char* source) {
    if (capacity == 0) return;
    size_t length = boundedLength(destination, capacity);
    if (length >= capacity) length = capacity - 1;  // not terminated: cut it there
    size_t room = capacity - length - 1;
    size_t i = 0;
    for (; i < room && source[i] != '\0'; ++i) destination[length + i] = source[i];
    destination[length + i] = '\0';
    destination[capacity - 1] = '\0';
}

void trimLeadingSpaces(char* text) {
    size_t spaces = 0;
    while (text[spaces] == ' ') ++spaces;
    if (spaces == 0) return;
    std::memmove(text, text + spaces, std::strlen(text + spaces) + 1);
}

const char* findFirstChar(const char* text, char wanted, LeadByteTest isLeadByte) {
    for (const char* p = text; *p != '\0'; ++p) {
        if (isLeadByte(static_cast<unsigned char>(*p))) {
            if (p[1] == '\0') return nullptr;  // a lone lead byte ends the text
            ++p;
            continue;
        }
        if (*p == wanted) return p;
    }
    return nullptr;
}

const char* findLastChar(const char* text, char wanted, LeadByteTest isLeadByte) {
    const char* last = nullptr;
    for (const char* p = text; *p != '\0'; ++p) {
        if (isLeadByte(static_cast<unsigned char>(*p))) {
            if (p[1] == '\0') break;
            ++p;
            continue;
        }
        if (*p == wanted) last = p;
    }
    return last;
}

char* findFirstChar(char* text, char wanted, LeadByteTest isLeadByte) {
    return const_cast<char*>(findFirstChar(static_cast<const char*>(text), wanted, isLeadByte));
}

char* findLastChar(char* text, char wanted, LeadByteTest isLeadByte) {
    return const_cast<char*>(findLastChar(static_cast<const char*>(text), wanted, isLeadByte));
}

size_t boundedLength(const char* text, size_t capacity) {
    size_t length = 0;
    while (length < capacity && text[length] != '\0') ++length;
    return length;
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
