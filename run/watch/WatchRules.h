// Rules of the wait for a maintenance run: which processes carry on its work.
// Platform-free: paths are UTF-16 text, and the comparison of names without
// regard to case is passed in (on Windows the file system's own, which folds
// the letters of every script, not only ASCII).
#pragma once
#include <cstddef>

// True when the first length units of a and b spell the same names, letters
// compared without regard to case.
using SameNamesTest = bool (*)(const char16_t* a, const char16_t* b, size_t length);

// True when path names something inside folder or in one of its subfolders.
// Both are taken in the same form (the final one, as the file system resolves
// them). folder may end in a backslash or not; "C:\Temp" does not hold
// "C:\Temp2\a.exe", and no folder holds itself. An empty folder holds nothing.
bool isInFolderTree(const char16_t* path, const char16_t* folder, SameNamesTest sameNames);
