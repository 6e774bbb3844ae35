#include "checks/ProductDetection.h"

#include <windows.h>

#include "app/Framework.h"
#include "core/SetupState.h"
#include "core/SystemError.h"
#include "core/SystemText.h"
#include "core/Text.h"

int32_t detectInstalledProduct(SetupState& state) {
    if (state.stopSetup) return 0;
    if (GetModuleFileNameA(appInstance(), state.setupDirectory, textCapacity) == 0)
        return reportSystemError(GetLastError());
    char* lastBackslash = findLastChar(state.setupDirectory, '\\', systemLeadByte);
    if (lastBackslash != nullptr) lastBackslash[1] = '\0';
    return 0;
}
