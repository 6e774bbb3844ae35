// Test entry under Wine: the same start-up as the launcher, then GoogleTest.
#include <gtest/gtest.h>
#include <windows.h>

#include <float.h>

#include "app/Framework.h"
#include "core/Module.h"

int main(int argc, char** argv) {
    _controlfp(_PC_53, _MCW_PC);
    setAppInstance(GetModuleHandleA(nullptr));
    initCommonControls();
    initRichEdit();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
