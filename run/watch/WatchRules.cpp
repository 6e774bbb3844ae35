#include "run/watch/WatchRules.h"

namespace {

size_t lengthOf(const char16_t* text) {
    size_t length = 0;
    while (text[length] != u'\0') ++length;
    return length;
}

}  // namespace

bool isInFolderTree(const char16_t* path, const char16_t* folder, SameNamesTest sameNames) {
    const size_t folderLength = lengthOf(folder);
    // Shorter than the folder's name, or the folder itself.
    if (folderLength == 0 || lengthOf(path) <= folderLength) return false;
    if (!sameNames(path, folder, folderLength)) return false;
    // Whatever follows the folder's own name must be a name inside it.
    if (folder[folderLength - 1] == u'\\') return true;
    return path[folderLength] == u'\\' && path[folderLength + 1] != u'\0';
}
