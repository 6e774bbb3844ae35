// The detection stage: reads setup.ini, asks for confirmation, checks the
// system, looks for an installed copy and asks what to do with it, and checks
// for the legacy driver. Records the outcome in SetupState.
#pragma once
#include <cstdint>

struct SetupState;

int32_t detectInstalledProduct(SetupState& state);
