#include "checks/DetectionRules.h"

#include <cstdio>
#include <cstring>

#include "core/Text.h"
#include "core/Texts.h"
#include "core/Version.h"

InstalledRelation relateInstalledVersion(const char* installedVersionText, const char* builtInVersion) {
    const int32_t installed = versionTimes100(installedVersionText);
    const int32_t built = versionTimes100(builtInVersion);
    if (installed == built) return InstalledRelation::same;
    return installed < built ? InstalledRelation::older : InstalledRelation::newer;
}

InstalledPrompt promptFor(InstalledRelation relation) {
    switch (relation) {
    case InstalledRelation::same: return {promptSameVersion, promptStyleQuestion, true};
    case InstalledRelation::older: return {promptOlderVersion, promptStyleQuestion, true};
    case InstalledRelation::newer: break;
    }
    return {noticeNewerVersion, promptStyleNotice, false};
}

void formatInstalledPrompt(char* destination, size_t capacity, InstalledRelation relation,
                           const char* name, const char* installedVersionText) {
    if (capacity == 0) return;
    const InstalledPrompt prompt = promptFor(relation);
    std::snprintf(destination, capacity, prompt.format, name, versionDisplayValue(installedVersionText));
    destination[capacity - 1] = '\0';
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
    if (capacity == 0) return false;
    copyBounded(destination, uninstallKeyParent, capacity);
    appendBounded(destination, capacity, "{");
    appendBounded(destination, capacity, productCode);
    appendBounded(destination, capacity, "}");
    return std::strlen(uninstallKeyParent) + std::strlen(productCode) + 2 < capacity;
}
