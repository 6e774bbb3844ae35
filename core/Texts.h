// The launcher's own texts and the numbers that pace it, in one place.
#pragma once

// Message-box captions.
constexpr const char captionError[] = "Error";
constexpr const char captionSetup[] = "Setup";

constexpr const char textAllocationFailed[] = "Error allocating memory.";

// Files on the medium and in the staging directory.
constexpr const char setupIniName[] = "setup.ini";
constexpr const char installerName[] = "extsetup.exe";
constexpr const char responseFileName[] = "v1uninst100.iss";

// Start-up pause before the sequence runs, in milliseconds.
constexpr unsigned startupPauseMs = 1000;
