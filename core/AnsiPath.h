// Paths in a form that the ANSI calls can take.
//
// The launcher works with narrow text in the system's ANSI code page, and the
// system writes a path for it in that code page. A character the code page
// cannot write comes out as '?' (or as a look-alike letter), and the path then
// names nothing: a medium in a folder with a Cyrillic name on a Western system,
// a temporary folder under a user name in another script. So a path is taken in
// its wide form and written in the code page only when it comes back exactly;
// else its short (8.3) form is used, which names the same file in letters the
// code page has. A path the code page can write is given exactly as the ANSI
// call would give it.
#pragma once
#include <windows.h>

#include <cstddef>

// Code of a path that has no form the code page can write: its long form cannot
// be written and it has no short form (short names are off on its volume).
constexpr DWORD noAnsiForm = ERROR_NO_UNICODE_TRANSLATION;

// Writes path (wide, terminated) into destination, at most capacity bytes with
// the terminator: as it stands when the code page writes it exactly, else its
// short form. 0; noAnsiForm; ERROR_FILENAME_EXCED_RANGE when the form does not
// fit whole (a cut path names another file); or the code of a failed call. On
// failure destination holds the empty text.
DWORD writeAnsiPath(const wchar_t* path, char* destination, size_t capacity);

// The full path of module, so written; the codes as above.
DWORD ansiModulePath(HMODULE module, char* destination, size_t capacity);

// The user's temporary directory, ending in a backslash, so written; the codes
// as above. From GetTempPath2W where Windows has it, else GetTempPathW.
DWORD ansiTempPath(char* destination, size_t capacity);

// Test seam: the short-form query (GetShortPathNameW's signature). Null means
// the real call.
using ShortPathCall = DWORD(WINAPI*)(LPCWSTR longPath, LPWSTR shortPath, DWORD capacity);
void setShortPathCall(ShortPathCall call);

// Test seam: the GetTempPath2W that Windows may have (Wine 8 has none). Null
// means the system's own, if any.
using TempPathCall = DWORD(WINAPI*)(DWORD capacity, LPWSTR path);
void setTempPath2Call(TempPathCall call);
