// The legacy driver conflict check: the "Rainbow Sentinel Driver" uninstall
// entry in the 32-bit view of HKEY_LOCAL_MACHINE means a driver the installation
// cannot upgrade; the user must remove it first.
//
// Reads and writes nothing of SetupState. goOn is set to 1 when the run may go
// on and to 0 when the driver is registered (the warning has then been shown);
// the detection stage turns 0 into stopSetup. Status: always 0.
#pragma once
#include <cstdint>

int32_t legacyDriverCheck(int32_t& goOn);
