#include "ui/ConfirmationRules.h"

#include <cstdio>
#include <cstring>

#include "core/FixedNames.h"
#include "core/UserTexts.h"

bool productCodeMatches(const char* productGuidText) {
    return std::strcmp(productGuidText, knownProductTable[0]) == 0;
}

const char* productCodeMismatchText(const char* productGuidText) {
    if (productCodeMatches(productGuidText)) return nullptr;
    return productGuidText[0] == '\0' ? textProductCodeMissing : textProductCodeForeign;
}

void formatConfirmationText(char* destination, size_t capacity, const char* productName,
                            const char* version) {
    if (capacity == 0) return;
    std::snprintf(destination, capacity, confirmationTemplate, productName, version);
    destination[capacity - 1] = '\0';
}

ConfirmationOutcome mapConfirmationEnd(intptr_t dialogResult) {
    switch (dialogResult) {
    case confirmationCancel:
        return {0, 1, false};
    case confirmationNotCreated:
        return {-1, 0, true};
    case confirmationFailedAndReported:
        return {-1, 0, false};
    default:
        return {0, 0, false};
    }
}
