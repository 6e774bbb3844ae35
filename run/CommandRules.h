// Rules for turning the installed copy's registered uninstall command into a
// program to start, and for composing the paths and the command line of a
// maintenance run. Platform-free: the code page's lead-byte test is passed in,
// so that a trail byte 0x22 or 0x5C never counts as a quote or a backslash.
#pragma once
#include <cstddef>

#include "core/Text.h"

enum CommandSplit {
    commandSplit,             // path and argument text separated
    commandNotQuoted,         // fewer than two double quotes: no path can be told apart
    commandMayBeCut,          // no terminator within the buffer: the command's end may be missing
    commandPathNotQualified,  // the path is empty, relative or rooted without a drive
};

// Splits a registered uninstall command, in place: afterwards command holds the
// text between its first and its last double quote (the program path), and
// arguments the text after the last double quote without leading blanks. Text
// before the first quote is dropped. Only a fully qualified path is accepted,
// because starting a relative one would take a program from the launcher's own
// folder. A command is used whole up to capacity - 1 characters; one that fills
// the buffer without a terminator is what detection leaves of a registry value
// longer than the buffer, and is refused. On any other outcome neither text is
// changed.
CommandSplit splitUninstallCommand(char* command, size_t commandCapacity, char* arguments,
                                   size_t argumentsCapacity, LeadByteTest isLeadByte);

// "X:\..." or "\\server\..." (also "\\?\..."): a path that names one file
// whatever the current drive and directory.
bool isFullyQualifiedPath(const char* path);

// The path up to and including its last backslash. False (destination empty)
// when the path has no backslash.
bool directoryOf(char* destination, size_t capacity, const char* path, LeadByteTest isLeadByte);

// destination = first + second + third, or appended to what destination holds.
// False when the text did not fit whole: a cut path names another file, so the
// caller must not use it.
bool composeText(char* destination, size_t capacity, const char* first, const char* second = "",
                 const char* third = "");
bool appendText(char* destination, size_t capacity, const char* first, const char* second = "",
                const char* third = "");

// Appends the silent switches and the quoted response file to the argument
// text: `<arguments> /s /SMS /f1"<responseFile>"`. False when it does not fit.
bool appendSilentSwitches(char* arguments, size_t capacity, const char* responseFile);
