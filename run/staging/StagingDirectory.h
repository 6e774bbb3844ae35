// The staging directory of an upgrade: emptied before the maintenance files are
// staged into it, and emptied and removed once the staged program has ended.
#pragma once
#include <windows.h>

#include <cstdint>

// "." and "..", which every listing of a directory holds.
bool isDotEntry(const char* name);

// Empties the staging directory left from an earlier run, or removes a file or
// link in its place; a directory that is not there is fine. 0, or the code of
// what could not be removed (not shown).
DWORD clearStagingDirectory(const char* staging);

// After the staged program has ended: waits a moment, deletes every file in the
// staging directory and removes it. Troubles with single files and with the
// directory itself are shown and passed over; 0, or the code of a listing that
// broke off, already shown.
int32_t cleanUpStaging(const char* staging);
