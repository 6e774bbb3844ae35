// What only the application sets up before its stages run: the DLL search and
// the system libraries its dialogs need. The module handle, the loading of system
// libraries and window placement that the stages use live in core/Module.h and
// core/Window.h.
#pragma once
#include <windows.h>

// Lets Windows look for DLLs only in System32, never in the launcher's own folder
// (a medium may be a Downloads folder holding anything). Called first of all.
void restrictDllSearch();

// Registers the common control classes (the progress bar among them).
void initCommonControls();

// Loads the rich-edit library so that "RichEdit20A" controls can be created.
void initRichEdit();
