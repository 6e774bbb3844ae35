// The launch stage: starts extsetup.exe from the launcher's own directory and
// does not wait for it.
//
// Reads stopSetup, uninstallOnly and setupDirectory; writes nothing.
// Status: 0 when nothing was to be started or the installer was started; else
// the Windows error code of the failed start, already shown to the user.
#pragma once
#include <cstdint>

struct SetupState;

int32_t launchInstaller(SetupState& state);
