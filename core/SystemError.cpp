#include "core/SystemError.h"

#include <windows.h>

#include <cstdio>

#include "core/UserTexts.h"

namespace {

// Written only by tests, before the code under test runs.
MessageBoxFn messageBoxHook = nullptr;

}  // namespace

void setMessageBoxHook(MessageBoxFn hook) { messageBoxHook = hook; }

int showMessage(const char* text, const char* caption, unsigned style) {
    if (messageBoxHook != nullptr) return messageBoxHook(text, caption, style);
    return MessageBoxA(nullptr, text, caption, style);
}

int32_t reportSystemError(uint32_t code) {
    char* message = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
        code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&message), 0, nullptr);
    if (length != 0 && message != nullptr) {
        showMessage(message, captionError, MB_OK | MB_ICONERROR);
    } else {
        // No text for this code: still tell the user which code it was.
        char fallback[64];
        std::snprintf(fallback, sizeof fallback, "Error %lu.", static_cast<unsigned long>(code));
        showMessage(fallback, captionError, MB_OK | MB_ICONERROR);
    }
    if (message != nullptr) LocalFree(message);
    return static_cast<int32_t>(code);
}

uint32_t lastErrorOr(uint32_t fallback) {
    const DWORD code = GetLastError();
    return code != 0 ? code : fallback;
}

int32_t reportFailureCode(uint32_t code) { return reportSystemError(code != 0 ? code : ERROR_GEN_FAILURE); }

void reportFailure(const char* text) { showMessage(text, captionError, MB_OK | MB_ICONERROR); }
