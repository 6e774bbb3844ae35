// The little of an application framework that the launcher needs: its module
// handle, the system libraries its dialogs need, and centring a window.
#pragma once
#include <windows.h>

// Lets Windows look for DLLs only in System32, never in the launcher's own folder
// (a medium may be a Downloads folder holding anything). Called first of all.
void restrictDllSearch();

// Loads a DLL from System32 by its full path.
HMODULE loadSystemLibrary(const char* fileName);

// Registers the common control classes (the progress bar among them).
void initCommonControls();

// Loads the rich-edit library so that "RichEdit20A" controls can be created.
void initRichEdit();

// The module of the running program: for its path, dialog templates and bitmaps.
HINSTANCE appInstance();
void setAppInstance(HINSTANCE instance);

// Centres a window on the screen's work area (the launcher's windows have no owner).
void centerWindowOnScreen(HWND window);
