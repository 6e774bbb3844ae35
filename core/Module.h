// The module of the running program: for its path, dialog templates and bitmaps.
// Set once at start-up; tests put another module in its place.
#pragma once
#include <windows.h>

HINSTANCE appInstance();
void setAppInstance(HINSTANCE instance);
