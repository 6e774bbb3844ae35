// Bounded copy, append and trim on arbitrary bytes and capacities: never a byte
// written or read outside a buffer, always terminated within the capacity.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/Text.h"

namespace {
bool cp932LeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t capacity = 1 + data[0] % 64;
    size_t split = 1 + data[1] % (size - 1);
    std::unique_ptr<char[]> first(new char[split]);
    std::memcpy(first.get(), data + 1, split - 1);
    first[split - 1] = '\0';
    std::unique_ptr<char[]> second(new char[size - split + 1]);
    std::memcpy(second.get(), data + split, size - split);
    second[size - split] = '\0';

    std::unique_ptr<char[]> destination(new char[capacity]);
    copyBounded(destination.get(), first.get(), capacity);
    if (std::strlen(destination.get()) >= capacity) std::abort();
    appendBounded(destination.get(), capacity, second.get());
    if (std::strlen(destination.get()) >= capacity) std::abort();
    trimLeadingSpaces(destination.get());
    if (destination[0] == ' ') std::abort();

    const char* quote = findFirstChar(second.get(), '"', cp932LeadByte);
    const char* backslash = findLastChar(second.get(), '\\', cp932LeadByte);
    size_t length = std::strlen(second.get());
    if (quote != nullptr && (quote < second.get() || quote >= second.get() + length)) std::abort();
    if (backslash != nullptr && *backslash != '\\') std::abort();
    return 0;
}
