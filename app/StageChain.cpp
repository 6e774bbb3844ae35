#include "app/StageChain.h"

int32_t runStages(SetupState& state, const SetupStage* stages, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        int32_t status = stages[i](state);
        if (status != 0) return status;
    }
    return 0;
}
