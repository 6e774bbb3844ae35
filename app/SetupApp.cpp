#include "app/SetupApp.h"

#include <windows.h>

#include <cstdlib>

#include "app/Framework.h"
#include "app/StageChain.h"
#include "checks/ProductDetection.h"
#include "core/Pacing.h"
#include "core/SetupState.h"
#include "core/SystemError.h"
#include "core/UserTexts.h"
#include "run/LaunchInstaller.h"
#include "run/MaintenanceRun.h"

namespace {

CKorvaneSetupApp application;
AllocateFn allocatorHook = nullptr;

// The fixed order of the run; later stages rely on what earlier ones decided.
const SetupStage setupStages[] = {detectInstalledProduct, runMaintenance, launchInstaller};

}  // namespace

CKorvaneSetupApp& theApplication() { return application; }

void setAllocatorHook(AllocateFn hook) { allocatorHook = hook; }

int32_t allocateSetupState(SetupState*& state) {
    AllocateFn allocate = allocatorHook != nullptr ? allocatorHook : std::calloc;
    auto* record = static_cast<SetupState*>(allocate(1, sizeof(SetupState)));
    if (record == nullptr) {
        reportFailure(textAllocationFailed);
        return -1;
    }
    state = record;
    return 0;
}

void releaseSetupState(SetupState*& state) {
    if (state == nullptr) return;
    std::free(state);
    state = nullptr;
}

int CKorvaneSetupApp::InitInstance() {
    initCommonControls();
    initRichEdit();
    Sleep(startupPauseMs);
    SetupSequence();
    return FALSE;
}

void CKorvaneSetupApp::SetupSequence() {
    SetupState* state = nullptr;
    if (allocateSetupState(state) != 0) return;
    runStages(*state, setupStages, sizeof setupStages / sizeof setupStages[0]);
    releaseSetupState(state);
}
