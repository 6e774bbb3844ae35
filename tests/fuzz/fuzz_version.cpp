// versionDisplayValue and versionTimes100 on arbitrary text: no undefined
// behaviour, and bit for bit the value of strtod given only the text's leading
// decimal number, copied out on its own so that strtod sees nothing after it.
// The two-decimal text of that value is written without undefined behaviour or
// an overrun of its working buffers (the sanitizers' verdict; the text itself is
// always terminated within its capacity, so there is nothing more to check).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/DecimalWriting.h"
#include "core/Version.h"

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

// [blanks][sign]digits[.digits][e[sign]digits], at least one mantissa digit;
// empty when there is none.
std::string decimalPrefix(const std::string& text) {
    size_t i = text.find_first_not_of(" \t\n\v\f\r");
    if (i == std::string::npos) return "";
    size_t start = i;
    if (text[i] == '+' || text[i] == '-') ++i;
    size_t mantissa = 0;
    while (i < text.size() && digit(text[i])) ++i, ++mantissa;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && digit(text[i])) ++i, ++mantissa;
    }
    if (mantissa == 0) return "";
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t e = i + 1;
        if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
        if (e < text.size() && digit(text[e])) {
            i = e;
            while (i < text.size() && digit(text[i])) ++i;
        }
    }
    return text.substr(start, i - start);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();  // the launcher's texts end at their first zero byte
    const std::string prefix = decimalPrefix(text);
    const double expected = prefix.empty() ? 0.0 : std::strtod(prefix.c_str(), nullptr);
    const double value = versionDisplayValue(text.c_str());
    if (std::memcmp(&value, &expected, sizeof value) != 0) std::abort();
    const int32_t times100 = versionTimes100(text.c_str());
    const double product = std::floor(expected * 100.0);
    if (product > -2147483648.0 && product < 2147483647.0 && times100 != static_cast<int32_t>(product))
        std::abort();
    char shown[twoDecimalsCapacity];
    formatTwoDecimals(shown, sizeof shown, value);
    return 0;
}
