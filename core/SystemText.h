// Text services of the running system: its ANSI code page's lead bytes and
// private-profile (ini) reading.
#pragma once
#include <cstddef>

// Lead-byte test of the system's ANSI code page (IsDBCSLeadByte).
bool systemLeadByte(unsigned char byte);

// Reads one ini value into destination (capacity bytes, always terminated);
// missing file, section or key give defaultText, or the empty text when it is
// null. Longer values are cut. Always returns 0.
int readIniString(const char* iniPath, const char* section, const char* key, const char* defaultText,
                  char* destination, size_t capacity);
