#include <gtest/gtest.h>

#include <string>

#include "app/StageChain.h"
#include "core/SetupState.h"

namespace {

std::string calls;

int32_t detectStops(SetupState& state) { calls += "d"; state.stopSetup = 1; return 0; }
int32_t detectFails(SetupState&) { calls += "d"; return -1; }
int32_t detectGoes(SetupState&) { calls += "d"; return 0; }
int32_t maintenanceFails(SetupState&) { calls += "m"; return 5; }
int32_t maintenance(SetupState& state) { calls += state.stopSetup ? "m-" : "m"; return 0; }
int32_t launch(SetupState& state) { calls += state.stopSetup ? "l-" : "l"; return 0; }

}  // namespace

TEST(StageChain, RunsEveryStageInOrderUntilOneFails) {
    struct Row { SetupStage stages[3]; const char* expectedCalls; int32_t expected; } rows[] = {
        {{detectGoes, maintenance, launch}, "dml", 0},
        {{detectStops, maintenance, launch}, "dm-l-", 0},  // an ordinary end still visits every stage
        {{detectFails, maintenance, launch}, "d", -1},
        {{detectGoes, maintenanceFails, launch}, "dm", 5},
    };
    for (const Row& row : rows) {
        SetupState state{};
        calls.clear();
        EXPECT_EQ(runStages(state, row.stages, 3), row.expected);
        EXPECT_EQ(calls, row.expectedCalls);
    }
}
