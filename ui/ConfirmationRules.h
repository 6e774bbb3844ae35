// The preparation of the installation confirmation, platform-free: whether
// setup.ini names this product, the confirmation text, and what the dialog's
// end means to the caller.
#pragma once
#include <cstddef>
#include <cstdint>

// Resource id of the banner, set when setup.ini names this product.
constexpr int32_t bannerBitmapResource = 137;

// Dialog ends: the two buttons, and the end the dialog gives itself after it
// has already told the user about its own failure. DialogBoxParamA's -1 (the
// dialog could not be created) is kept apart from the latter so that a failure
// is reported exactly once.
constexpr intptr_t confirmationInstall = 0;
constexpr intptr_t confirmationCancel = 2;
constexpr intptr_t confirmationNotCreated = -1;
constexpr intptr_t confirmationFailedAndReported = -2;

// Exact, case-sensitive, whole-text comparison with the first known product
// code: no trimming, no braces, no case folding.
bool productCodeMatches(const char* productGuidText);

// Null when the code matches; else the text that tells the user why not.
const char* productCodeMismatchText(const char* productGuidText);

// "<name> v.<version> is about to be installed. ..." into destination (capacity
// bytes, always terminated).
void formatConfirmationText(char* destination, size_t capacity, const char* productName, const char* version);

// What runConfirmationDialog makes of a dialog end.
struct ConfirmationOutcome {
    int32_t status;        // 0 or -1
    int32_t cancelled;     // 1 for Cancel, Escape or a close request
    bool reportLastError;  // the dialog could not be created: nobody has told the user yet
};

ConfirmationOutcome mapConfirmationEnd(intptr_t dialogResult);
