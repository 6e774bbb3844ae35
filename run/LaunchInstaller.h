// The launch stage: starts extsetup.exe from the launcher's own directory and
// does not wait for it.
//
// An installer that needs administrator rights is started through the shell,
// which asks the user for consent (run/ProgramStart.h); consent not given is
// shown in a box of its own.
//
// Reads stopSetup, uninstallOnly and setupDirectory; writes nothing.
// Status: 0 when nothing was to be started or the installer was started; else
// the Windows error code of the failed start, already shown to the user
// (ERROR_CANCELLED: consent was not given).
#pragma once
#include <cstdint>

struct SetupState;

int32_t launchInstaller(SetupState& state);
