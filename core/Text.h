// Bounded text operations and multibyte-aware searches.
//
// All text is narrow multibyte text in the system's ANSI code page. Lengths and
// capacities count bytes; a capacity includes the terminating zero. Text that does
// not fit is cut short silently, and every operation leaves its destination
// terminated within its capacity.
//
// Platform-free: the lead-byte test of the code page is passed in, so that the
// searches can be tested natively against a double-byte table.
#pragma once
#include <cstddef>

// True when the byte starts a double-byte character in the code page in use.
using LeadByteTest = bool (*)(unsigned char byte);

// Lead-byte test of a single-byte code page: no byte is a lead byte.
bool noLeadBytes(unsigned char byte);

// Copies at most capacity - 1 bytes of source and zero-fills the rest of the
// destination's capacity. The cut is by bytes, even inside a double-byte character.
// The destination may overlap the source only when it lies before it (a caller
// drops leading characters in place).
void copyBounded(char* destination, const char* source, size_t capacity);

// Appends as much of source as fits; a destination already full stays unchanged.
// The destination must be terminated within its capacity.
void appendBounded(char* destination, size_t capacity, const char* source);

// Composing a path or a command line: destination = first + second + third, or appended to what destination
// holds. False when the text did not fit whole: a cut path names another file, so the caller must not use it.
bool composeText(char* destination, size_t capacity, const char* first, const char* second = "",
                 const char* third = "");
bool appendText(char* destination, size_t capacity, const char* first, const char* second = "",
                const char* third = "");

// Removes leading spaces (0x20 only) in place.
void trimLeadingSpaces(char* text);

// First / last occurrence of an ASCII character (a quote, a backslash), never
// matching the trail byte of a double-byte character. Null when absent.
char* findFirstChar(char* text, char wanted, LeadByteTest isLeadByte);
char* findLastChar(char* text, char wanted, LeadByteTest isLeadByte);
const char* findFirstChar(const char* text, char wanted, LeadByteTest isLeadByte);
const char* findLastChar(const char* text, char wanted, LeadByteTest isLeadByte);

// Length of text, but never looking past capacity bytes.
size_t boundedLength(const char* text, size_t capacity);
