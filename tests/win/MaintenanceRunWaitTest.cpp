// How long the maintenance run waits, with a maintenance program that behaves
// like many uninstallers: it relaunches itself from a copy in %TEMP% and returns
// at once (the stand-in with KORVANE_STANDIN_RELAUNCH). An upgrade waits for the
// copy too, then cleans up, also where no job can be had (the program's
// descendants are followed) and where the launcher itself runs inside a job; it
// stops waiting for the copy once the staged program has been gone for the
// limit. An uninstall waits for the first program alone. That a program started
// from elsewhere does not hold an upgrade shows end to end (maintenance.json).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "MessageRecorder.h"
#include "Seams.h"
#include "TestFiles.h"
#include "core/FixedNames.h"
#include "core/SetupState.h"
#include "run/MaintenanceRun.h"

namespace {

// When the progress dialog ended: the monitor ends it once it has seen the run end.
ULONGLONG dialogEndedAt = 0;

INT_PTR WINAPI timedDialogBox(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC procedure,
                              LPARAM parameter) {
    INT_PTR result = DialogBoxParamA(instance, name, owner, procedure, parameter);
    dialogEndedAt = GetTickCount64();
    return result;
}

// Failing job calls, counted, so that a case proves its call was made.
int failedCalls = 0;

HANDLE WINAPI noJob(LPSECURITY_ATTRIBUTES, LPCSTR) {
    ++failedCalls;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

BOOL WINAPI noLimits(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD) {
    ++failedCalls;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

BOOL WINAPI unreadableJob(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD, LPDWORD) {
    ++failedCalls;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

DWORD WINAPI noResume(HANDLE) {
    ++failedCalls;
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return static_cast<DWORD>(-1);
}

HANDLE WINAPI noProcessList(DWORD, DWORD) {
    ++failedCalls;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
}

// Windows Vista and 7: a process that is in a job already cannot be put into
// another (Wine nests jobs, as Windows 8 and later do). Refusals are counted.
int refusedNestings = 0;

BOOL WINAPI assignWithoutNesting(HANDLE job, HANDLE process) {
    BOOL inJob = FALSE;
    if (IsProcessInJob(process, nullptr, &inJob) && inJob) {
        ++refusedNestings;
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return AssignProcessToJobObject(job, process);
}

// The clock of the wait's limit, 200 times as fast: ten minutes pass in three
// seconds.
ULONGLONG WINAPI fastClock() { return GetTickCount64() * 200; }

// How long a relaunched copy runs: longer than a stage that does not wait for
// it takes (a poll, the run-up, the dialog's close, the clean-up's pause), so
// that whether the stage waited shows in the order of events, not in timing.
const char* const copyRunsMs = "8000";

bool isCopy(const StandinEvent& e) { return e.module.find("~korvane-standin-") != std::string::npos; }

class MaintenanceRunWaits : public MaintenanceScratch {
public:
    void SetUp() override {
        createScratch("korvane-wait-test");
        if (HasFatalFailure()) return;
        upgradeRecord(state);
        dialogEndedAt = 0;
        failedCalls = 0;
    }

    // A copy still running is told to stop, and waited for, before its folder goes.
    void TearDown() override {
        if (root.empty()) return;
        writeFile(stop, "");
        for (int waited = 0; waited < 10000 && copyRunning(); waited += 50) Sleep(50);
        EXPECT_FALSE(copyRunning()) << "a relaunched copy did not end";
        removeScratch();
    }

    bool copyRunning() {
        int running = 0;
        for (const StandinEvent& e : readStandinLog(log))
            if (isCopy(e)) running += e.event == "start" ? 1 : -1;
        return running > 0;
    }

    const StandinEvent* find(const std::vector<StandinEvent>& events, const char* event, bool copy) {
        for (const StandinEvent& e : events)
            if (e.event == event && isCopy(e) == copy) return &e;
        return nullptr;
    }

    // The log once the relaunched copy has recorded its start, or after 10 s. The
    // copy writes it once Wine has started it, which on a busy machine can come
    // after a stage that did not wait for it has returned.
    std::vector<StandinEvent> eventsOnceTheCopyStarted() {
        std::vector<StandinEvent> events = readStandinLog(log);
        for (int waited = 0; waited < 10000 && find(events, "start", true) == nullptr; waited += 50) {
            Sleep(50);
            events = readStandinLog(log);
        }
        return events;
    }

    // Runs the stage with the dialog timed and boxes recorded; the log as it
    // was when the stage returned.
    int32_t run(std::vector<StandinEvent>& events, std::vector<RecordedBox>& boxes) {
        ProgressCallsGuard calls({nullptr, nullptr, timedDialogBox, nullptr});
        MessageRecorder recorder;
        int32_t result = runMaintenance(state);
        events = readStandinLog(log);
        boxes = recorder.boxes;
        return result;
    }

    // An upgrade that waited for the relaunched copy: the stage returned 0 with
    // nothing shown, the dialog stayed until the copy had ended, then came the
    // clean-up.
    void expectTheCopyWaitedFor(int32_t result, const std::vector<StandinEvent>& events,
                                const std::vector<RecordedBox>& boxes) {
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(boxes.empty());
        const StandinEvent* stagedExit = find(events, "exit", false);
        const StandinEvent* copyExit = find(events, "exit", true);
        ASSERT_NE(stagedExit, nullptr);
        ASSERT_NE(copyExit, nullptr) << "the stage returned while the relaunched copy still ran";
        EXPECT_EQ(stagedExit->reason, "relaunched");
        EXPECT_EQ(copyExit->reason, "done");
        EXPECT_GE(dialogEndedAt, copyExit->tick);
        EXPECT_FALSE(exists(staging));
    }

    SetupState state;
};

}  // namespace

TEST_F(MaintenanceRunWaits, AnUpgradeWaitsForTheCopyTheProgramRelaunchedThenCleansUp) {
    EnvironmentGuard relaunch("KORVANE_STANDIN_RELAUNCH", copyRunsMs);
    std::vector<StandinEvent> events;
    std::vector<RecordedBox> boxes;
    EXPECT_EQ(run(events, boxes), 0);
    EXPECT_TRUE(boxes.empty());
    const StandinEvent* stagedExit = find(events, "exit", false);
    const StandinEvent* copyStart = find(events, "start", true);
    const StandinEvent* copyExit = find(events, "exit", true);
    ASSERT_NE(stagedExit, nullptr);
    ASSERT_NE(copyStart, nullptr);
    ASSERT_NE(copyExit, nullptr) << "the stage returned while the relaunched copy still ran";
    EXPECT_EQ(stagedExit->module, staging + "\\" + installerName);
    EXPECT_EQ(stagedExit->reason, "relaunched");
    EXPECT_EQ(copyExit->reason, "done");
    EXPECT_NE(copyStart->line.find("_?="), std::string::npos);
    // The staged program returned at once; the dialog stayed until the copy ended.
    EXPECT_GE(copyExit->tick, stagedExit->tick + 7000);
    EXPECT_GE(dialogEndedAt, copyExit->tick);
    // The clean-up came after that.
    EXPECT_FALSE(exists(staging));
}

TEST_F(MaintenanceRunWaits, AnUninstallWaitsForItsProgramAlone) {
    EnvironmentGuard relaunch("KORVANE_STANDIN_RELAUNCH", copyRunsMs);
    state.upgradeMode = 0;
    std::strcpy(state.uninstallCommand, ("\"" + installed + "setup.exe\" -x").c_str());
    std::vector<StandinEvent> events;
    std::vector<RecordedBox> boxes;
    EXPECT_EQ(run(events, boxes), 0);
    EXPECT_TRUE(boxes.empty());
    const StandinEvent* programExit = find(events, "exit", false);
    ASSERT_NE(programExit, nullptr);
    EXPECT_EQ(programExit->module, installed + "setup.exe");
    EXPECT_EQ(programExit->reason, "relaunched");
    EXPECT_EQ(find(events, "exit", true), nullptr) << "the uninstall waited for the copy";
    ASSERT_NE(find(eventsOnceTheCopyStarted(), "start", true), nullptr);
    EXPECT_TRUE(copyRunning());
}

// A program that asks for its helper to leave the job gets that, as it would
// outside a job: the helper starts, and the upgrade no longer waits for it.
TEST_F(MaintenanceRunWaits, AHelperStartedToBreakAwayIsStartedAndNotWaitedFor) {
    EnvironmentGuard relaunch("KORVANE_STANDIN_RELAUNCH", (std::string(copyRunsMs) + " breakaway").c_str());
    std::vector<StandinEvent> events;
    std::vector<RecordedBox> boxes;
    EXPECT_EQ(run(events, boxes), 0);
    EXPECT_TRUE(boxes.empty());
    const StandinEvent* stagedExit = find(events, "exit", false);
    ASSERT_NE(stagedExit, nullptr);
    EXPECT_EQ(stagedExit->reason, "relaunched");
    EXPECT_EQ(find(events, "exit", true), nullptr);
    EXPECT_NE(find(eventsOnceTheCopyStarted(), "start", true), nullptr);
    EXPECT_FALSE(exists(staging));
}

// Every job call that can fail leaves the upgrade without a job: the staged
// program's descendants are followed instead, and the copy is waited for as in
// a job, with nothing shown. Only where the processes cannot be listed either
// is the staged program alone waited for.
TEST_F(MaintenanceRunWaits, WithoutAJobAnUpgradeFollowsTheProgramsDescendants) {
    struct Case {
        const char* name;
        ProgramStartCalls start;
        RunWatchCalls watch;
        bool copyWaitedFor;
    };
    const Case cases[] = {
        {"no job can be created", {noJob, nullptr, nullptr, nullptr}, {}, true},
        {"the job refuses its limits", {nullptr, noLimits, nullptr, nullptr}, {}, true},
        {"the job cannot be read", {}, {unreadableJob, nullptr, nullptr}, true},
        {"no job and no list of processes",
         {noJob, nullptr, nullptr, nullptr},
         {nullptr, noProcessList, nullptr},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        ASSERT_FALSE(HasFatalFailure());
        EnvironmentGuard relaunch("KORVANE_STANDIN_RELAUNCH", copyRunsMs);
        std::vector<StandinEvent> events;
        std::vector<RecordedBox> boxes;
        int32_t result;
        {
            ProgramStartCallsGuard start(c.start);
            RunWatchCallsGuard watch(c.watch);
            result = run(events, boxes);
        }
        EXPECT_GE(failedCalls, 1);
        if (c.copyWaitedFor) {
            expectTheCopyWaitedFor(result, events, boxes);
            continue;
        }
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(boxes.empty());
        const StandinEvent* stagedExit = find(events, "exit", false);
        ASSERT_NE(stagedExit, nullptr);
        EXPECT_GE(dialogEndedAt, stagedExit->tick);
        EXPECT_EQ(find(events, "exit", true), nullptr) << "the stage waited for the copy";
        EXPECT_NE(find(eventsOnceTheCopyStarted(), "start", true), nullptr);
        EXPECT_FALSE(exists(staging));
    }
}

// A copy that runs on long after the staged program has ended holds the upgrade
// for the limit, then the stage goes on as after a normal end: the clean-up,
// result 0, nothing shown, and the copy left running.
TEST_F(MaintenanceRunWaits, ACopyStillRunningAtTheLimitNoLongerHoldsTheUpgrade) {
    EnvironmentGuard relaunch("KORVANE_STANDIN_RELAUNCH", "60000");
    std::vector<StandinEvent> events;
    std::vector<RecordedBox> boxes;
    int32_t result;
    {
        RunWatchCallsGuard watch({nullptr, nullptr, fastClock});
        result = run(events, boxes);
    }
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(boxes.empty());
    const StandinEvent* stagedExit = find(events, "exit", false);
    ASSERT_NE(stagedExit, nullptr);
    EXPECT_EQ(stagedExit->reason, "relaunched");
    ASSERT_NE(find(events, "start", true), nullptr);
    EXPECT_EQ(find(events, "exit", true), nullptr);
    EXPECT_TRUE(copyRunning());
    // Held for the limit (three seconds on the fast clock), not for the copy's minute.
    EXPECT_GE(dialogEndedAt, stagedExit->tick + 2500);
    EXPECT_LE(dialogEndedAt, stagedExit->tick + 20000);
    EXPECT_FALSE(exists(staging));
}

// A program that cannot be resumed has never run: the failure is shown and ends
// the stage, and the staged files stay, as with any failed start.
TEST_F(MaintenanceRunWaits, AProgramThatCannotBeResumedIsAFailedStart) {
    const std::string text = errorBoxText(ERROR_NOT_ENOUGH_QUOTA);
    std::vector<RecordedBox> boxes;
    int32_t result;
    {
        ProgramStartCallsGuard start({nullptr, nullptr, nullptr, noResume});
        MessageRecorder recorder;
        result = runMaintenance(state);
        boxes = recorder.boxes;
    }
    EXPECT_EQ(failedCalls, 1);
    EXPECT_EQ(result, ERROR_NOT_ENOUGH_QUOTA);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_TRUE(exists(staging + "\\" + installerName));
    Sleep(1000);
    EXPECT_TRUE(readStandinLog(log).empty()) << "the program ran";
    // Ended, not left suspended: its file can go.
    SetFileAttributesA((staging + "\\" + installerName).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(DeleteFileA((staging + "\\" + installerName).c_str()));
}

namespace {

// The launcher started inside a job of someone else's (a service, a scheduled
// task, a build agent put it there). This test program puts itself into such a
// job, for good: its cases run in a program of their own (one per suite).
HANDLE outerJob = nullptr;

class MaintenanceRunInAJob : public MaintenanceRunWaits {
public:
    void SetUp() override {
        if (outerJob == nullptr) {
            outerJob = CreateJobObjectA(nullptr, nullptr);
            ASSERT_NE(outerJob, nullptr);
            ASSERT_TRUE(AssignProcessToJobObject(outerJob, GetCurrentProcess()));
        }
        refusedNestings = 0;
        MaintenanceRunWaits::SetUp();
    }

    // Whether the outer job lets a program be started out of it.
    void allowBreakaway(bool allowed) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = allowed ? JOB_OBJECT_LIMIT_BREAKAWAY_OK : 0;
        ASSERT_TRUE(
            SetInformationJobObject(outerJob, JobObjectExtendedLimitInformation, &limits, sizeof limits));
    }

    // An upgrade whose staged program relaunches a copy of itself and ends, from
    // inside an outer job that does or does not allow breakaway.
    int32_t runRelaunchingCopy(bool breakawayAllowed, std::vector<StandinEvent>& events,
                               std::vector<RecordedBox>& boxes) {
        allowBreakaway(breakawayAllowed);
        if (HasFatalFailure()) return 0;
        EnvironmentGuard relaunch("KORVANE_STANDIN_RELAUNCH", copyRunsMs);
        ProgramStartCallsGuard start({nullptr, nullptr, assignWithoutNesting, nullptr});
        return run(events, boxes);
    }
};

}  // namespace

// On Windows Vista and 7 the staged program could not join the launcher's job
// from inside the outer one; started out of it, it does, and no nesting is asked.
TEST_F(MaintenanceRunInAJob, WhereTheJobAllowsBreakawayTheProgramLeavesItForTheLaunchersOwn) {
    std::vector<StandinEvent> events;
    std::vector<RecordedBox> boxes;
    const int32_t result = runRelaunchingCopy(true, events, boxes);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(refusedNestings, 0) << "the staged program was started inside the outer job";
    expectTheCopyWaitedFor(result, events, boxes);
}

TEST_F(MaintenanceRunInAJob, WhereItAllowsNeitherBreakawayNorNestingTheDescendantsAreFollowed) {
    std::vector<StandinEvent> events;
    std::vector<RecordedBox> boxes;
    const int32_t result = runRelaunchingCopy(false, events, boxes);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(refusedNestings, 1);
    expectTheCopyWaitedFor(result, events, boxes);
}
