#include "core/SystemText.h"

#include <windows.h>

bool systemLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

int readIniString(const char* iniPath, const char* section, const char* key, const char* defaultText,
                  char* destination, size_t capacity) {
    if (capacity == 0) return 0;
    GetPrivateProfileStringA(section, key, defaultText, destination, static_cast<DWORD>(capacity), iniPath);
    destination[capacity - 1] = '\0';
    return 0;
}
