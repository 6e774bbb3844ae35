#include "run/WatchRules.h"

namespace {

unsigned char lowerAscii(unsigned char byte) {
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

}  // namespace

bool isInFolderTree(const char* path, const char* folder, LeadByteTest isLeadByte) {
    size_t i = 0;
    bool atTrailByte = false;  // folder[i] is the second byte of a double-byte character
    bool endsInBackslash = false;
    for (; folder[i] != '\0'; ++i) {
        const auto want = static_cast<unsigned char>(folder[i]);
        const auto seen = static_cast<unsigned char>(path[i]);
        if (seen == '\0') return false;
        if (atTrailByte ? seen != want : lowerAscii(seen) != lowerAscii(want)) return false;
        endsInBackslash = !atTrailByte && want == '\\';
        atTrailByte = !atTrailByte && isLeadByte(want);
    }
    if (i == 0) return false;
    // Whatever follows the folder's own name must be a name inside it.
    if (endsInBackslash) return path[i] != '\0';
    return path[i] == '\\' && path[i + 1] != '\0';
}
