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
#include "core/UserTexts.h"
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
// seconds. When it was last read: the watch reads it at every step once the
// program has ended, the last time when it finds the run over.
ULONGLONG lastClockReadAt = 0;
ULONGLONG WINAPI fastClock() {
    lastClockReadAt = GetTickCount64();
    return lastClockReadAt * 200;
}

// How long a relaunched copy runs: longer than a stage that does not wait for
// it takes (a poll, the run-up, the dialog's close, the clean-up's pause), so
// that whether the stage waited shows in the order of events, not in timing.
const char* const copyRunsMs = "8000";

// A copy of the stand-in that the staged program left running: relaunched from
// %TEMP%, or lingering as a viewer (KORVANE_STANDIN_LINGER).
bool isCopy(const StandinEvent& e) {
    return e.module.find("~korvane-standin-") != std::string::npos ||
           e.module.find("korvane-viewer") != std::string::npos;
}

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

    // Runs the stage afresh, for a case of a table, through the seams given, with
    // a staged program that relaunches its copy.
    int32_t runRelaunchingThrough(const ProgramStartCalls& start, const RunWatchCalls& watch,
                                  std::vector<StandinEvent>& events, std::vector<RecordedBox>& boxes) {
        TearDown();
        SetUp();
        if (HasFatalFailure()) return -1;
        EnvironmentGuard relaunch("KORVANE_STANDIN_RELAUNCH", copyRunsMs);
        ProgramStartCallsGuard startCalls(start);
        RunWatchCallsGuard watchCalls(watch);
        return run(events, boxes);
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

// A program that starts its copy out of the job (CREATE_BREAKAWAY_FROM_JOB)
// gets that, as it would outside a job, and the upgrade still waits for the
// copy: it is the program's child.
TEST_F(MaintenanceRunWaits, ACopyThatBreaksAwayFromTheJobIsWaitedFor) {
    EnvironmentGuard relaunch("KORVANE_STANDIN_RELAUNCH", (std::string(copyRunsMs) + " breakaway").c_str());
    std::vector<StandinEvent> events;
    std::vector<RecordedBox> boxes;
    const int32_t result = run(events, boxes);
    expectTheCopyWaitedFor(result, events, boxes);
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
        {"no job can be created", {noJob, nullptr, nullptr, nullptr, nullptr, nullptr}, {}, true},
        {"the job refuses its limits", {nullptr, noLimits, nullptr, nullptr, nullptr, nullptr}, {}, true},
        {"the job cannot be read",
         {},
         {unreadableJob, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
         true},
        {"no job and no list of processes",
         {noJob, nullptr, nullptr, nullptr, nullptr, nullptr},
         {nullptr, noProcessList, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<StandinEvent> events;
        std::vector<RecordedBox> boxes;
        const int32_t result = runRelaunchingThrough(c.start, c.watch, events, boxes);
        ASSERT_FALSE(HasFatalFailure());
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

// A program the staged program left running from the temporary folder holds
// the upgrade for the limit, counted from the staged program's end (it ran four
// seconds: longer than the limit on the fast clock), then the stage goes on as
// after a normal end: the clean-up, result 0, nothing shown, the copy left
// running.
TEST_F(MaintenanceRunWaits, ACopyStillRunningAtTheLimitNoLongerHoldsTheUpgrade) {
    const std::string plan = root + "\\plan.txt";
    writeFile(plan, "extsetup 4000\n");
    EnvironmentGuard planned("KORVANE_STANDIN_PLAN", plan.c_str());
    EnvironmentGuard linger("KORVANE_STANDIN_LINGER", ("extsetup|" + tmp + "viewer|60000").c_str());
    std::vector<StandinEvent> events;
    std::vector<RecordedBox> boxes;
    int32_t result;
    {
        RunWatchCallsGuard watch({nullptr, nullptr, fastClock, nullptr, nullptr, nullptr, nullptr, nullptr});
        result = run(events, boxes);
    }
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(boxes.empty());
    const StandinEvent* stagedExit = find(events, "exit", false);
    ASSERT_NE(stagedExit, nullptr);
    ASSERT_NE(find(events, "start", true), nullptr);
    EXPECT_EQ(find(events, "exit", true), nullptr);
    EXPECT_TRUE(copyRunning());
    // Held for the limit (three seconds on the fast clock) after the staged
    // program's end, not for the copy's minute.
    EXPECT_GE(lastClockReadAt, stagedExit->tick + 2000) << "the limit was counted from the program's start";
    EXPECT_LE(dialogEndedAt, stagedExit->tick + 20000);
    EXPECT_FALSE(exists(staging));
}

// A helper the staged program started from the installed copy's maintenance
// folder carries on its work too.
TEST_F(MaintenanceRunWaits, AHelperFromTheMaintenanceFolderIsWaitedFor) {
    EnvironmentGuard linger("KORVANE_STANDIN_LINGER",
                            ("extsetup|" + installed.substr(0, installed.size() - 1) + "|5000").c_str());
    std::vector<StandinEvent> events;
    std::vector<RecordedBox> boxes;
    const int32_t result = run(events, boxes);
    const StandinEvent* helperExit = find(events, "exit", true);
    ASSERT_NE(helperExit, nullptr) << "the stage returned while the helper still ran";
    EXPECT_EQ(helperExit->module, installed + "korvane-viewer.exe");
    EXPECT_EQ(result, 0);
    EXPECT_GE(dialogEndedAt, helperExit->tick);
}

// A program that cannot be resumed has never run: the failure is shown and ends
// the stage, and the staged files stay, as with any failed start.
TEST_F(MaintenanceRunWaits, AProgramThatCannotBeResumedIsAFailedStart) {
    const std::string text = errorBoxText(ERROR_NOT_ENOUGH_QUOTA);
    std::vector<RecordedBox> boxes;
    int32_t result;
    {
        ProgramStartCallsGuard start({nullptr, nullptr, nullptr, noResume, nullptr, nullptr});
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

    // How many processes have ever been in the outer job.
    DWORD outerJobProcesses() {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
        EXPECT_TRUE(QueryInformationJobObject(outerJob, JobObjectBasicAccountingInformation, &accounting,
                                              sizeof accounting, nullptr));
        return accounting.TotalProcesses;
    }

    // An upgrade whose staged program relaunches a copy of itself and ends, from
    // inside an outer job that does or does not allow breakaway, on a Windows
    // whose jobs nest (8 and later) or not (Vista, 7). joined: how many processes
    // the outer job took in meanwhile.
    int32_t runRelaunchingCopy(bool breakawayAllowed, bool jobsNest, std::vector<StandinEvent>& events,
                               std::vector<RecordedBox>& boxes, DWORD& joined) {
        allowBreakaway(breakawayAllowed);
        if (HasFatalFailure()) return 0;
        EnvironmentGuard relaunch("KORVANE_STANDIN_RELAUNCH", copyRunsMs);
        ProgramStartCallsGuard start(
            {nullptr, nullptr, jobsNest ? nullptr : assignWithoutNesting, nullptr, nullptr, nullptr});
        const DWORD before = outerJobProcesses();
        const int32_t result = run(events, boxes);
        joined = outerJobProcesses() - before;
        return result;
    }
};

}  // namespace

// The outer job's limits keep holding for the maintenance program: it stays in
// that job, with its copy, and the launcher's job nests there.
TEST_F(MaintenanceRunInAJob, WhereJobsNestTheProgramStaysInTheOuterJob) {
    std::vector<StandinEvent> events;
    std::vector<RecordedBox> boxes;
    DWORD joined = 0;
    const int32_t result = runRelaunchingCopy(true, true, events, boxes, joined);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(joined, 2u) << "the staged program and its copy did not both stay in the outer job";
    expectTheCopyWaitedFor(result, events, boxes);
}

// On Windows Vista and 7 the staged program cannot join the launcher's job from
// inside the outer one; where the outer job allows it, it is started anew out
// of it (the first start never ran an instruction) and joins the launcher's.
TEST_F(MaintenanceRunInAJob, WhereJobsDoNotNestTheProgramLeavesTheOuterJobForTheLaunchersOwn) {
    std::vector<StandinEvent> events;
    std::vector<RecordedBox> boxes;
    DWORD joined = 0;
    const int32_t result = runRelaunchingCopy(true, false, events, boxes, joined);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(refusedNestings, 1);
    EXPECT_LE(joined, 1u) << "the program that ran, or its copy, was in the outer job";
    expectTheCopyWaitedFor(result, events, boxes);
}

TEST_F(MaintenanceRunInAJob, WhereItAllowsNeitherBreakawayNorNestingTheDescendantsAreFollowed) {
    std::vector<StandinEvent> events;
    std::vector<RecordedBox> boxes;
    DWORD joined = 0;
    const int32_t result = runRelaunchingCopy(false, false, events, boxes, joined);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(refusedNestings, 1);
    expectTheCopyWaitedFor(result, events, boxes);
}

namespace {

// ---- A maintenance program that needs administrator rights: Windows refuses
// its start from the launcher's filtered token with ERROR_ELEVATION_REQUIRED
// (Wine runs every program with a full token, so the first start is told so
// here), and the shell's "runas" start asks the user.
// What the shell start was asked for; the start itself is the shell's own.
struct ShellStart {
    std::string verb, file, parameters;
    bool parametersGiven = false, owned = false, programWritable = true;
    const char* directory = "";
} shellStart;

BOOL WINAPI recordedShellStart(SHELLEXECUTEINFOA* info) {
    shellStart.verb = info->lpVerb != nullptr ? info->lpVerb : "";
    shellStart.file = info->lpFile != nullptr ? info->lpFile : "";
    shellStart.parametersGiven = info->lpParameters != nullptr;
    shellStart.parameters = shellStart.parametersGiven ? info->lpParameters : "";
    shellStart.owned = info->hwnd != nullptr && IsWindow(info->hwnd);
    shellStart.directory = info->lpDirectory;
    // Guarded by now: another program of the user cannot open it for writing.
    HANDLE program =
        CreateFileA(info->lpFile, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    shellStart.programWritable = program != INVALID_HANDLE_VALUE;
    if (program != INVALID_HANDLE_VALUE) CloseHandle(program);
    using Fn = BOOL(WINAPI*)(SHELLEXECUTEINFOA*);
    auto real = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("shell32.dll"), "ShellExecuteExA")));
    return real(info);
}

BOOL WINAPI consentNotGiven(SHELLEXECUTEINFOA*) {
    SetLastError(ERROR_CANCELLED);
    return FALSE;
}

// The launcher itself runs with the filtered token, as a double-click starts it.
class MaintenanceRunElevated : public MaintenanceRunWaits {
public:
    void SetUp() override {
        programCreations = 0;
        shellStart = ShellStart{};
        MaintenanceRunWaits::SetUp();
    }

private:
    UnelevatedLauncherGuard unelevated;
};

}  // namespace

// Started through the shell, with the same program, arguments and directory,
// the elevated program is watched like any other: its relaunched copy (which
// no job of the launcher's can hold) is waited for, then the clean-up follows.
TEST_F(MaintenanceRunElevated, AProgramThatNeedsElevationIsStartedThroughTheShellAndWatched) {
    EnvironmentGuard relaunch("KORVANE_STANDIN_RELAUNCH", copyRunsMs);
    std::vector<StandinEvent> events;
    std::vector<RecordedBox> boxes;
    int32_t result;
    {
        ProgramStartCallsGuard start(
            {nullptr, nullptr, nullptr, nullptr, needsElevationOnce, recordedShellStart});
        result = run(events, boxes);
    }
    EXPECT_EQ(programCreations, 1);
    EXPECT_EQ(shellStart.verb, "runas");
    EXPECT_EQ(shellStart.file, staging + "\\" + installerName);
    const std::string arguments = "-runfromtemp /s /SMS /f1\"" + staging + "\\" + responseFileName + "\"";
    EXPECT_EQ(shellStart.parameters, arguments);
    EXPECT_EQ(shellStart.directory, nullptr) << "not the launcher's current directory";
    EXPECT_TRUE(shellStart.owned) << "the consent prompt would have no window of the launcher's to belong to";
    EXPECT_FALSE(shellStart.programWritable)
        << "the staging directory was not guarded before the elevated start";
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].module, staging + "\\" + installerName);
    // The shell puts the program's quoted path before the arguments.
    EXPECT_EQ(jsonField(events[0].line, "cmdline"),
              "\"" + staging + "\\" + installerName + "\" " + arguments);
    expectTheCopyWaitedFor(result, events, boxes);
}

BOOL WINAPI startedWithoutAHandle(SHELLEXECUTEINFOA* info) {
    info->hProcess = nullptr;
    return TRUE;
}

// Consent not given, or a start Windows hands back without a handle to follow
// the program by: one box says why nothing is waited for; the staged files stay
// (guarded, for a program that may be running), and nothing else runs.
TEST_F(MaintenanceRunElevated, ConsentNotGivenOrAStartThatCannotBeFollowedEndsTheRun) {
    struct Case {
        const char* name;
        BOOL(WINAPI* shell)(SHELLEXECUTEINFOA*);
        int32_t result;
        const char* box;
    };
    const Case cases[] = {{"consent not given", consentNotGiven, ERROR_CANCELLED, textConsentRefused},
                          {"no handle", startedWithoutAHandle, ERROR_INVALID_HANDLE, textStartNotFollowed}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        ASSERT_FALSE(HasFatalFailure());
        std::vector<StandinEvent> events;
        std::vector<RecordedBox> boxes;
        int32_t result;
        {
            ProgramStartCallsGuard start({nullptr, nullptr, nullptr, nullptr, needsElevationOnce, c.shell});
            result = run(events, boxes);
        }
        EXPECT_EQ(result, c.result);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.box);
        EXPECT_EQ(boxes[0].caption, "Error");
        EXPECT_EQ(boxes[0].style, static_cast<unsigned>(MB_OK | MB_ICONERROR));
        Sleep(500);
        EXPECT_TRUE(readStandinLog(log).empty()) << "a program ran";
        EXPECT_EQ(listDirectory(staging),
                  (std::vector<std::string>{"data1.cab", "extsetup.exe", "setup.exe", "v1uninst100.iss"}));
    }
}

namespace {

// ---- The order of the watch's steps, through the process list.
//
// The first list is taken while the staged program has only just been
// started, and handed over only once that program has ended: in the meantime
// it has relaunched its copy and gone. A watch that tested the program's end
// after reading the list would find neither the program nor the copy running.
std::string waitedLog;
ULONGLONG firstListAt = 0;
int lists = 0;

HANDLE WINAPI listThenWaitForTheProgramsEnd(DWORD flags, DWORD id) {
    HANDLE list = CreateToolhelp32Snapshot(flags, id);
    if (lists++ > 0) return list;
    firstListAt = GetTickCount64();
    for (int waited = 0; waited < 10000; waited += 20) {
        for (const StandinEvent& e : readStandinLog(waitedLog))
            if (e.event == "exit" && !isCopy(e)) return list;
        Sleep(20);
    }
    return list;
}

// ---- A process that the list names as a child of the staged program, but that
// is none, as a process whose id was reused would appear: one created before
// the staged program, or one created after the list was taken. A stand-in from
// the temporary folder, so that it would hold the upgrade were it taken in.
enum class Stranger { createdBefore, createdAfterTheList };
Stranger strangerCase = Stranger::createdBefore;
std::string strangerPath;
PROCESS_INFORMATION stranger = {};
DWORD stagedProgramId = 0;
bool strangerNamed = false;  // by the list being walked
bool strangerGiven = false;  // in this walk of it

bool startStranger() {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(strangerPath.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &stranger) != FALSE;
}

// A process created after a list is named by that list alone.
HANDLE WINAPI listAnew(DWORD flags, DWORD id) {
    if (strangerCase == Stranger::createdAfterTheList) strangerNamed = false;
    return CreateToolhelp32Snapshot(flags, id);
}

// The staged program's id is looked up in the whole list first; the one created
// after the list is started once the list names the staged program.
BOOL WINAPI firstProcess(HANDLE list, PROCESSENTRY32* entry) {
    stagedProgramId = 0;
    strangerGiven = false;
    for (BOOL more = Process32First(list, entry); more; more = Process32Next(list, entry))
        if (_stricmp(entry->szExeFile, installerName) == 0) stagedProgramId = entry->th32ProcessID;
    if (strangerCase == Stranger::createdAfterTheList && stranger.hProcess == nullptr && stagedProgramId != 0)
        strangerNamed = startStranger();
    return Process32First(list, entry);
}

// After the real ones, the stranger, as the staged program's child.
BOOL WINAPI nextProcess(HANDLE list, PROCESSENTRY32* entry) {
    if (Process32Next(list, entry)) return TRUE;
    if (!strangerNamed || strangerGiven || stagedProgramId == 0) return FALSE;
    strangerGiven = true;
    entry->th32ProcessID = stranger.dwProcessId;
    entry->th32ParentProcessID = stagedProgramId;
    std::strcpy(entry->szExeFile, "stranger.exe");
    return TRUE;
}

// ---- A child of the staged program that cannot be opened (as a process of
// higher rights may not be): the list names it, with an id no process has,
// from the first list that names the staged program on, after the real ones.
DWORD closedChildParent = 0;
bool closedChildGiven = false;

BOOL WINAPI firstProcessThenClosedChild(HANDLE list, PROCESSENTRY32* entry) {
    closedChildGiven = false;
    BOOL more = Process32First(list, entry);
    if (more && _stricmp(entry->szExeFile, installerName) == 0) closedChildParent = entry->th32ProcessID;
    return more;
}

BOOL WINAPI nextProcessThenClosedChild(HANDLE list, PROCESSENTRY32* entry) {
    if (Process32Next(list, entry)) {
        if (_stricmp(entry->szExeFile, installerName) == 0) closedChildParent = entry->th32ProcessID;
        return TRUE;
    }
    if (closedChildGiven || closedChildParent == 0) return FALSE;
    closedChildGiven = true;
    entry->th32ProcessID = 0x7ffffff8;
    entry->th32ParentProcessID = closedChildParent;
    std::strcpy(entry->szExeFile, "closed.exe");
    return TRUE;
}

// A program whose process id cannot be read.
DWORD WINAPI noProcessId(HANDLE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

// ---- A program file that cannot be read, as for a process of higher rights
// on some systems.
BOOL WINAPI imageUnreadable(HANDLE, DWORD, LPWSTR, PDWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// ---- A file's final path in capitals, its folder's as it is: a share may give
// the two in different cases (Wine gives each as it is spelt on disk).
DWORD WINAPI filesInCapitals(HANDLE file, LPWSTR path, DWORD capacity, DWORD flags) {
    const DWORD length = GetFinalPathNameByHandleW(file, path, capacity, flags);
    BY_HANDLE_FILE_INFORMATION information;
    if (length > 0 && length < capacity && GetFileInformationByHandle(file, &information) &&
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        CharUpperBuffW(path, length);
    return length;
}

class RunWatchSteps : public MaintenanceRunWaits {};

// Runs of many processes, a suite (and a Wine process) of their own: they take
// a minute.
class RunWatchOfManyProcesses : public MaintenanceRunWaits {};

}  // namespace

TEST_F(RunWatchSteps, AProgramsEndIsSampledBeforeTheListThatNamesItsLastChild) {
    EnvironmentGuard relaunch("KORVANE_STANDIN_RELAUNCH", copyRunsMs);
    waitedLog = log;
    lists = 0;
    std::vector<StandinEvent> events;
    std::vector<RecordedBox> boxes;
    int32_t result;
    {
        // No job: the descendants alone tell the copy.
        ProgramStartCallsGuard start({noJob, nullptr, nullptr, nullptr, nullptr, nullptr});
        RunWatchCallsGuard watch(
            {nullptr, listThenWaitForTheProgramsEnd, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr});
        result = run(events, boxes);
    }
    ASSERT_FALSE(events.empty());
    ASSERT_GE(events[0].tick, firstListAt) << "the first list was not taken before the copy was started";
    expectTheCopyWaitedFor(result, events, boxes);
}

TEST_F(RunWatchSteps, AProcessCreatedBeforeTheProgramOrAfterTheListIsNoChildOfIt) {
    const Stranger cases[] = {Stranger::createdBefore, Stranger::createdAfterTheList};
    for (Stranger c : cases) {
        SCOPED_TRACE(c == Stranger::createdBefore ? "created before the staged program"
                                                  : "created after the list");
        TearDown();
        SetUp();
        ASSERT_FALSE(HasFatalFailure());
        strangerCase = c;
        strangerNamed = c == Stranger::createdBefore;
        stranger = {};
        strangerPath = tmp + "stranger.exe";
        const std::string plan = root + "\\plan.txt";
        // The staged program runs while lists are read, so that they name it.
        writeFile(plan, "stranger 30000\nextsetup 2500\n");
        EnvironmentGuard planned("KORVANE_STANDIN_PLAN", plan.c_str());
        ASSERT_TRUE(CopyFileA(standinPath().c_str(), strangerPath.c_str(), FALSE));
        if (c == Stranger::createdBefore) {
            ASSERT_TRUE(startStranger());
            Sleep(200);  // created well before the staged program
        }
        std::vector<StandinEvent> events;
        std::vector<RecordedBox> boxes;
        int32_t result;
        {
            // No job: the lists are read while the staged program runs.
            ProgramStartCallsGuard start({noJob, nullptr, nullptr, nullptr, nullptr, nullptr});
            RunWatchCallsGuard watch(
                {nullptr, listAnew, nullptr, firstProcess, nextProcess, nullptr, nullptr, nullptr});
            result = run(events, boxes);
        }
        ASSERT_NE(stranger.hProcess, nullptr) << "no list named the staged program";
        const bool strangerStillRuns = WaitForSingleObject(stranger.hProcess, 0) == WAIT_TIMEOUT;
        writeFile(stop, "");
        WaitForSingleObject(stranger.hProcess, 10000);
        CloseHandle(stranger.hThread);
        CloseHandle(stranger.hProcess);
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(boxes.empty());
        EXPECT_TRUE(strangerStillRuns)
            << "the upgrade waited for a process that is no child of the staged one";
        EXPECT_FALSE(exists(staging));
    }
}

// The relaunched copy in the temporary folder is work when its program file
// cannot be read (unknown is work), and when its final path comes in another
// case than the folder's: names are compared as the file system compares them.
TEST_F(RunWatchSteps, TheCopyIsWorkWhenItsFileCannotBeReadOrIsNamedInAnotherCase) {
    struct Case {
        const char* name;
        RunWatchCalls watch;
    };
    const Case cases[] = {
        {"its program file cannot be read",
         {nullptr, nullptr, nullptr, nullptr, nullptr, imageUnreadable, nullptr, nullptr}},
        {"its final path in capitals",
         {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, filesInCapitals, nullptr}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<StandinEvent> events;
        std::vector<RecordedBox> boxes;
        const int32_t result = runRelaunchingThrough({}, c.watch, events, boxes);
        ASSERT_FALSE(HasFatalFailure());
        expectTheCopyWaitedFor(result, events, boxes);
    }
}

// What cannot be followed counts as work while it may run: a descendant that
// cannot be opened while the list names it, and whatever a program whose id
// cannot be read started. Either holds the upgrade for the limit (three
// seconds on the fast clock) after the staged program's end.
TEST_F(RunWatchSteps, WhatCannotBeFollowedIsWork) {
    struct Case {
        const char* name;
        RunWatchCalls watch;
        bool closedChild;
    };
    const Case cases[] = {
        {"a descendant that cannot be opened",
         {nullptr, nullptr, fastClock, firstProcessThenClosedChild, nextProcessThenClosedChild, nullptr,
          nullptr, nullptr},
         true},
        {"the program's id cannot be read",
         {nullptr, nullptr, fastClock, nullptr, nullptr, nullptr, nullptr, noProcessId},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        ASSERT_FALSE(HasFatalFailure());
        const std::string plan = root + "\\plan.txt";
        writeFile(plan, "extsetup 1500\n");
        EnvironmentGuard planned("KORVANE_STANDIN_PLAN", plan.c_str());
        closedChildParent = 0;
        std::vector<StandinEvent> events;
        std::vector<RecordedBox> boxes;
        int32_t result;
        {
            // No job: the list is read while the program runs, and names it.
            ProgramStartCallsGuard start({noJob, nullptr, nullptr, nullptr, nullptr, nullptr});
            RunWatchCallsGuard watch(c.watch);
            result = run(events, boxes);
        }
        if (c.closedChild) {
            ASSERT_NE(closedChildParent, 0u) << "no list named the staged program";
        }
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(boxes.empty());
        const StandinEvent* stagedExit = find(events, "exit", false);
        ASSERT_NE(stagedExit, nullptr);
        EXPECT_GE(lastClockReadAt, stagedExit->tick + 2000) << "what could not be followed did not count";
        EXPECT_FALSE(exists(staging));
    }
}

// A run of any length is followed to its end, and what runs at once beyond the
// table still holds it. The staged program starts many helpers, then relaunches
// its copy: 500 short ones one after another (a few dozen running at once, each
// seen by a list), far more than the table holds over the run; or 70 long ones
// at once, which fill the table, so that the copy started after them is noted
// by its ids alone until they end. Either way the copy relaunches its own, and
// both are waited for.
TEST_F(RunWatchOfManyProcesses, TheCopiesRelaunchedAfterManyHelpersAreWaitedFor) {
    struct Case {
        const char* helpers;  // count|ms|apart
        const char* relaunch;
        int copies;
    };
    const Case cases[] = {{"500|1200|30", "5000 again", 2}, {"70|10000|0", "12000 again", 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.helpers);
        TearDown();
        SetUp();
        ASSERT_FALSE(HasFatalFailure());
        EnvironmentGuard helpers("KORVANE_STANDIN_HELPERS", c.helpers);
        EnvironmentGuard relaunch("KORVANE_STANDIN_RELAUNCH", c.relaunch);
        std::vector<StandinEvent> events;
        std::vector<RecordedBox> boxes;
        int32_t result;
        {
            // No job: the descendants alone tell the copies.
            ProgramStartCallsGuard start({noJob, nullptr, nullptr, nullptr, nullptr, nullptr});
            result = run(events, boxes);
        }
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(boxes.empty());
        const StandinEvent* stagedExit = find(events, "exit", false);
        ASSERT_NE(stagedExit, nullptr);
        EXPECT_EQ(stagedExit->reason, "relaunched") << "the helpers did not all start";
        const StandinEvent* lastExit = nullptr;
        int copiesEnded = 0;
        for (const StandinEvent& e : events) {
            if (e.event != "exit" || !isCopy(e)) continue;
            ++copiesEnded;
            if (e.reason == "done") lastExit = &e;
        }
        ASSERT_NE(lastExit, nullptr) << "the stage returned while the last copy still ran";
        EXPECT_EQ(copiesEnded, c.copies);
        EXPECT_GE(dialogEndedAt, lastExit->tick);
        EXPECT_FALSE(exists(staging));
    }
}
