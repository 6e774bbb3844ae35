#include "run/MaintenanceRun.h"

#include "core/SetupState.h"

int32_t runMaintenance(SetupState& state) {
    if (state.stopSetup || !state.runInstalledSetup) return 0;
    return 0;
}
