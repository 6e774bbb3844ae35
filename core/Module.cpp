#include "core/Module.h"

#include "core/Text.h"

namespace {

HINSTANCE instanceHandle = nullptr;

}  // namespace

HINSTANCE appInstance() { return instanceHandle; }

void setAppInstance(HINSTANCE instance) { instanceHandle = instance; }

HMODULE loadSystemLibrary(const char* fileName) {
    char path[MAX_PATH + 1];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    if (!appendText(path, sizeof path, "\\", fileName)) return nullptr;
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
