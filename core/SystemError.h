// Failure and message boxes. Every box of the launcher goes through showMessage,
// which tests may redirect to record boxes instead of waiting for a person.
#pragma once
#include <cstdint>

// Shows a message box without an owner window and returns the button pressed.
int showMessage(const char* text, const char* caption, unsigned style);

// Test seam: replaces the message-box call; null restores the real one.
using MessageBoxFn = int (*)(const char* text, const char* caption, unsigned style);
void setMessageBoxHook(MessageBoxFn hook);

// Shows the system's text for a Windows error code in an "Error" box with the
// error icon and returns the code unchanged. Safe to call from any thread.
int32_t reportSystemError(uint32_t code);

// Shows one of the launcher's own failure texts in an "Error" box.
void reportFailure(const char* text);
