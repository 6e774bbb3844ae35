#include "checks/DetectionRules.h"

#include <cstdint>
#include <cstring>

#include "core/DecimalWriting.h"
#include "core/FixedNames.h"
#include "core/Text.h"
#include "core/UserTexts.h"
#include "core/Version.h"

InstalledRelation relateInstalledVersion(const char* installedVersionText, const char* builtInVersion) {
    const int32_t installed = versionTimes100(installedVersionText);
    const int32_t built = versionTimes100(builtInVersion);
    if (installed == built) return InstalledRelation::same;
    return installed < built ? InstalledRelation::older : InstalledRelation::newer;
}

InstalledPrompt promptFor(InstalledRelation relation) {
    switch (relation) {
    case InstalledRelation::same:
        return {promptSameVersion, promptStyleQuestion, true};
    case InstalledRelation::older:
        return {promptOlderVersion, promptStyleQuestion, true};
    case InstalledRelation::newer:
        break;
    }
    return {noticeNewerVersion, promptStyleNotice, false};
}

void formatInstalledPrompt(char* destination, size_t capacity, InstalledRelation relation, const char* name,
                           const char* installedVersionText) {
    if (capacity == 0) return;
    char shown[twoDecimalsCapacity];
    formatTwoDecimals(shown, sizeof shown, versionDisplayValue(installedVersionText));
    // The prompt's "%s" is the name and its "%.2f" the version as shown; every
    // other character is the prompt's own. Cut at the capacity.
    size_t length = 0;
    const auto put = [&](const char* text, size_t count) {
        for (size_t i = 0; i < count && text[i] != '\0' && length + 1 < capacity; ++i)
            destination[length++] = text[i];
    };
    for (const char* p = promptFor(relation).format; *p != '\0'; ++p) {
        if (std::strncmp(p, "%s", 2) == 0) {
            put(name, SIZE_MAX);
            p += 1;
        } else if (std::strncmp(p, "%.2f", 4) == 0) {
            put(shown, SIZE_MAX);
            p += 3;
        } else {
            put(p, 1);
        }
    }
    destination[length] = '\0';
}

InstalledDecision decideInstalledCopy(InstalledRelation relation, int answer) {
    InstalledDecision decision{};
    if (relation == InstalledRelation::newer || answer != answerYes) {
        decision.stop = true;
        return decision;
    }
    decision.uninstallOnly = relation == InstalledRelation::same;
    decision.upgradeMode = relation == InstalledRelation::older;
    decision.runInstalledSetup = true;
    return decision;
}

void terminateRegistryText(char* buffer, size_t capacity, size_t bytesRead) {
    if (capacity == 0) return;
    buffer[bytesRead < capacity ? bytesRead : capacity - 1] = '\0';
}

bool registryTextIsWhole(const char* buffer, size_t capacity, size_t bytesRead) {
    return bytesRead < capacity || std::memchr(buffer, '\0', capacity) != nullptr;
}

bool composeUninstallKeyPath(char* destination, size_t capacity, const char* productCode) {
    return composeText(destination, capacity, uninstallKeyParent, "{", productCode) &&
           appendText(destination, capacity, "}");
}
