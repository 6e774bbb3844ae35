// The application: prepares the user-interface libraries, pauses one second and
// runs the setup sequence, all inside InitInstance. There is no main window and
// no message loop; the process ends when InitInstance returns.
#pragma once
#include <cstdint>

struct SetupState;

class CKorvaneSetupApp {
public:
    // Runs the whole launcher. Always returns false (0): there is no message loop.
    int InitInstance();

    // Allocates the run's record, runs detection, maintenance run and launch in
    // that order until one fails, and releases the record whichever way it ended.
    void SetupSequence();
};

// The one application object, found by the entry point.
CKorvaneSetupApp& theApplication();

// Creates the zero-filled record. 0 on success; -1 after the "Error allocating
// memory." box, leaving the out reference unwritten.
int32_t allocateSetupState(SetupState*& state);

// Frees the record, if any, and nulls the reference.
void releaseSetupState(SetupState*& state);

// Test seam: the allocator behind allocateSetupState (calloc's shape); null
// restores calloc.
using AllocateFn = void* (*)(size_t count, size_t size);
void setAllocatorHook(AllocateFn hook);
