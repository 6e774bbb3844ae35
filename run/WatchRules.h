// Rules of the wait for a maintenance run: which processes carry on its work.
// Platform-free: the code page's lead-byte test is passed in, so that a trail
// byte is never taken for a backslash or folded like a letter.
#pragma once

#include "core/Text.h"

// True when path names something inside folder or in one of its subfolders.
// Letters compare without regard to case, as Windows compares file names (ASCII
// letters; the two bytes of a double-byte character compare exactly). folder may
// end in a backslash or not; "C:\Temp" does not hold "C:\Temp2\a.exe", and no
// folder holds itself. An empty folder holds nothing.
bool isInFolderTree(const char* path, const char* folder, LeadByteTest isLeadByte);
