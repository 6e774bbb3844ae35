// versionTimes100 on arbitrary text: no undefined behaviour, and agreement with
// the floor of the double product wherever that fits in 32 bits.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/Version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    int32_t value = versionTimes100(text.c_str());
    double product = std::floor(std::strtod(text.c_str(), nullptr) * 100.0);
    if (product > -2147483648.0 && product < 2147483647.0 && value != static_cast<int32_t>(product))
        std::abort();
    return 0;
}
