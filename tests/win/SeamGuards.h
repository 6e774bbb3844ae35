// Test seams of the launcher's own code, each set for the life of a guard and
// put back when it goes, so that a failed assertion, which returns from the
// test at once, cannot leave a seam in place for the tests after it.
#pragma once
#include <windows.h>

#include "app/Framework.h"
#include "app/SetupApp.h"

// The module whose path, templates and bitmaps the stages use.
class AppInstanceGuard {
public:
    explicit AppInstanceGuard(HINSTANCE replacement) : saved(appInstance()) { setAppInstance(replacement); }
    ~AppInstanceGuard() { setAppInstance(saved); }
    AppInstanceGuard(const AppInstanceGuard&) = delete;
    AppInstanceGuard& operator=(const AppInstanceGuard&) = delete;

private:
    HINSTANCE saved;
};

// The allocator behind allocateSetupState.
class AllocatorGuard {
public:
    explicit AllocatorGuard(AllocateFn replacement) { setAllocatorHook(replacement); }
    ~AllocatorGuard() { setAllocatorHook(nullptr); }
    AllocatorGuard(const AllocatorGuard&) = delete;
    AllocatorGuard& operator=(const AllocatorGuard&) = delete;
};
