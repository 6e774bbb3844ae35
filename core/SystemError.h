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

// The thread's last error code, or fallback when the call that failed set none.
uint32_t lastErrorOr(uint32_t fallback);

// reportSystemError for a failure whose code the system may not have set: 0
// becomes ERROR_GEN_FAILURE, so that the failure still ends the chain as one
// and is not shown as "The operation completed successfully."
int32_t reportFailureCode(uint32_t code);

// Shows one of the launcher's own failure texts in an "Error" box.
void reportFailure(const char* text);
