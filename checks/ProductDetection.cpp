#include "checks/ProductDetection.h"

#include <windows.h>

#include "checks/DetectionRules.h"
#include "checks/LegacyDriverCheck.h"
#include "checks/OsCheck.h"
#include "core/AnsiPath.h"
#include "core/FixedNames.h"
#include "core/Module.h"
#include "core/SetupState.h"
#include "core/SystemError.h"
#include "core/SystemText.h"
#include "core/Text.h"
#include "core/UserTexts.h"
#include "core/Version.h"
#include "ui/ConfirmationDialog.h"

// The rules spell the message-box numbers out; they must stay the system's.
static_assert(promptStyleQuestion == (MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2), "Yes/No, No first");
static_assert(promptStyleNotice == MB_OK, "OK, no icon");
static_assert(answerYes == IDYES, "only Yes is consent");
static_assert((KEY_READ | KEY_WOW64_32KEY) == 0x20219, "read access to the 32-bit view");

namespace {

// The probe of one product code ends the stage, or lets the next code be probed.
enum class ProbeEnd { next, stop, failed };

// Reads one value of the key into buffer (textCapacity bytes) as the system
// gives it, and the number of bytes read. Whatever its registry type, the bytes
// read are the text: a stored string need not carry its terminator.
LONG queryValue(HKEY key, const char* name, char* buffer, DWORD* size) {
    DWORD type = 0;
    *size = textCapacity;
    LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), size);
    if (result != ERROR_SUCCESS) buffer[0] = '\0';  // what a failed query left there is not text
    return result;
}

// The value as text, cut and terminated within the buffer.
LONG readValueText(HKEY key, const char* name, char* buffer) {
    DWORD size = 0;
    const LONG result = queryValue(key, name, buffer, &size);
    if (result == ERROR_SUCCESS) terminateRegistryText(buffer, textCapacity, size);
    return result;
}

// The uninstall command goes into its field as read. A whole command is
// terminated there, up to 260 characters long; one that filled the field
// without its terminator may have lost its end, and is left so: without a
// terminator, which is how the maintenance run's split tells it and refuses it.
LONG readUninstallCommand(HKEY key, char* command) {
    DWORD size = 0;
    const LONG result = queryValue(key, valueUninstallString, command, &size);
    if (result == ERROR_SUCCESS && registryTextIsWhole(command, textCapacity, size))
        terminateRegistryText(command, textCapacity, size);
    return result;
}

// The full path of the running launcher, cut after its last backslash.
int32_t findOwnDirectory(SetupState& state) {
    // Without a code of its own a failure would read "The operation completed
    // successfully." and the run would go on without a directory. A cut path
    // names some other folder, whose setup.ini and extsetup.exe are not ours.
    const DWORD code = ansiModulePath(appInstance(), state.setupDirectory, textCapacity);
    if (code == noAnsiForm) {
        reportFailure(textMediumFolderUnusable);
        return static_cast<int32_t>(code);
    }
    if (code != 0) return reportSystemError(code);
    // Multibyte-aware: the trail byte of a double-byte character may be 0x5C.
    char* lastBackslash = findLastChar(state.setupDirectory, '\\', systemLeadByte);
    if (lastBackslash != nullptr) lastBackslash[1] = '\0';
    return 0;
}

// "ProductGUID" and "Product" of setup.ini; empty when missing. The path of a
// setup.ini beside a launcher in a very deep folder may not fit 260 characters,
// and a cut one would name another file: that is reported as the path too long
// it is, rather than as a missing setup.ini, which would send the user looking
// for a file that is there. 0, or the status of that failure.
int32_t readSetupIni(const SetupState& state, char* productGuid, char* product) {
    productGuid[0] = '\0';
    product[0] = '\0';
    char iniPath[textCapacity];
    if (!composeText(iniPath, sizeof iniPath, state.setupDirectory, setupIniName))
        return reportSystemError(ERROR_FILENAME_EXCED_RANGE);
    readIniString(iniPath, iniSection, iniKeyProductGuid, nullptr, productGuid, textCapacity);
    readIniString(iniPath, iniSection, iniKeyProduct, nullptr, product, textCapacity);
    return 0;
}

ProbeEnd askAboutInstalledCopy(SetupState& state, HKEY key, const char* builtInVersion) {
    char name[textCapacity];
    LONG result = readValueText(key, valueDisplayName, name);
    if (result == ERROR_FILE_NOT_FOUND) {
        reportFailure(textDisplayNameMissing);
        copyBounded(name, nameUnknown, sizeof name);
    } else if (result != ERROR_SUCCESS) {
        reportSystemError(static_cast<uint32_t>(result));
        return ProbeEnd::failed;
    }

    // An absent version reads as the empty text: 0, older than any launcher.
    char version[textCapacity];
    result = readValueText(key, valueDisplayVersion, version);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
        reportSystemError(static_cast<uint32_t>(result));
        return ProbeEnd::failed;
    }

    const InstalledRelation relation = relateInstalledVersion(version, builtInVersion);
    char prompt[longTextCapacity];
    formatInstalledPrompt(prompt, sizeof prompt, relation, name, version);
    const int answer = showMessage(prompt, captionSetup, promptFor(relation).style);
    const InstalledDecision decision = decideInstalledCopy(relation, answer);
    if (decision.stop) {
        state.stopSetup = 1;
        return ProbeEnd::stop;
    }
    if (decision.uninstallOnly) state.uninstallOnly = 1;
    if (decision.upgradeMode) state.upgradeMode = 1;
    state.runInstalledSetup = 1;
    copyBounded(state.installedVersion, version, textCapacity);
    copyBounded(state.installedName, name, textCapacity);

    if (readUninstallCommand(key, state.uninstallCommand) != ERROR_SUCCESS) {
        reportFailure(textUninstallStringMissing);
        state.runInstalledSetup = 0;
    }
    return ProbeEnd::next;
}

ProbeEnd probeInstalledCopy(SetupState& state, const char* productCode, const char* builtInVersion) {
    char keyPath[textCapacity];
    if (!composeUninstallKeyPath(keyPath, sizeof keyPath, productCode)) return ProbeEnd::next;
    // The product's installer is a 32-bit one and registers in the 32-bit view;
    // on a 64-bit system the same name in the 64-bit view is not ours.
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return ProbeEnd::next;  // absent or unreadable: not installed
    const ProbeEnd end = askAboutInstalledCopy(state, key, builtInVersion);
    RegCloseKey(key);
    return end;
}

}  // namespace

int32_t detectInstalledProduct(SetupState& state) {
    if (state.stopSetup) return 0;
    const int32_t pathStatus = findOwnDirectory(state);
    if (pathStatus != 0) return pathStatus;

    char builtInVersion[displayVersionCapacity];
    formatFileVersion(builtInVersion, builtInVersionText, sizeof builtInVersion);

    char productGuid[textCapacity];
    char product[textCapacity];
    const int32_t iniStatus = readSetupIni(state, productGuid, product);
    if (iniStatus != 0) return iniStatus;
    copyBounded(state.productName, product, textCapacity);

    int32_t cancelled = 0;
    if (confirmInstallation(product, state, productGuid, cancelled) != 0) return -1;
    if (cancelled) {
        state.stopSetup = 1;
        return 0;
    }
    if (!checkOperatingSystem()) {
        state.stopSetup = 1;
        return 0;
    }

    for (const char* productCode : knownProductTable) {
        const ProbeEnd end = probeInstalledCopy(state, productCode, builtInVersion);
        if (end == ProbeEnd::failed) return -1;
        if (end == ProbeEnd::stop) return 0;
    }

    int32_t goOn = 1;
    legacyDriverCheck(goOn);
    if (!goOn) state.stopSetup = 1;
    return 0;
}
