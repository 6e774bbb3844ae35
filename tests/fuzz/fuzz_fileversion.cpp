// formatFileVersion on arbitrary sources and capacities: always terminated
// within the capacity, never reading past the source.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/Version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t capacity = 1 + data[0] % 16;
    std::string source(reinterpret_cast<const char*>(data + 1), size - 1);
    std::unique_ptr<char[]> destination(new char[capacity]);
    formatFileVersion(destination.get(), source.c_str(), capacity);
    if (std::strlen(destination.get()) >= capacity) std::abort();
    return 0;
}
