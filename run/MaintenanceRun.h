// The maintenance-run stage: runs the installed copy's maintenance program (an
// uninstall, or a staged silent upgrade) and waits for it under the progress
// dialog.
#pragma once
#include <cstdint>

struct SetupState;

int32_t runMaintenance(SetupState& state);
