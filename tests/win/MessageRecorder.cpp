#include "MessageRecorder.h"

#include <windows.h>

#include "core/SystemError.h"

namespace {

MessageRecorder* current = nullptr;

int recordBox(const char* text, const char* caption, unsigned style) {
    current->boxes.push_back({text, caption, style});
    if (current->answers.empty()) return IDOK;
    int answer = current->answers.front();
    current->answers.pop_front();
    return answer;
}

}  // namespace

MessageRecorder::MessageRecorder() : previous(current) {
    current = this;
    setMessageBoxHook(recordBox);
}

MessageRecorder::~MessageRecorder() {
    current = previous;
    setMessageBoxHook(previous != nullptr ? recordBox : nullptr);
}

std::string systemText(unsigned long code) {
    char* message = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&message), 0,
        nullptr);
    std::string text = length != 0 && message != nullptr ? message : "";
    if (message != nullptr) LocalFree(message);
    return text;
}
