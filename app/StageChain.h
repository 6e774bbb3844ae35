// The rule by which a run goes from stage to stage.
//
// Every stage takes the run's SetupState and returns a signed 32-bit status:
// 0 lets the chain go on (also the ordinary ends of a run, which the detection
// stage marks with stopSetup and every stage honours first); anything else means
// the stage failed and has already told the user, and no further stage runs.
#pragma once
#include <cstddef>
#include <cstdint>

struct SetupState;

using SetupStage = int32_t (*)(SetupState& state);

// Runs the stages in order and stops at the first non-zero status, which it
// returns; 0 when every stage returned 0.
int32_t runStages(SetupState& state, const SetupStage* stages, size_t count);
