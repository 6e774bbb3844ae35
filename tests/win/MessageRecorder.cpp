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

MessageRecorder::MessageRecorder() {
    current = this;
    setMessageBoxHook(recordBox);
}

MessageRecorder::~MessageRecorder() {
    setMessageBoxHook(nullptr);
    current = nullptr;
}
