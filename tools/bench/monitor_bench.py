#!/usr/bin/env python3
"""Cost and latency of the process monitor, measured on the real launcher under Wine.

tools/bench/bench.py runs this with its build folder; it can also run alone on a
build folder that holds the Windows build (KorvaneSetup, robot, standin). Each run
is an end-to-end scenario (tests/e2e/runner.py) that must pass: a run that goes
wrong fails the command with the runner's account, and no figure is guessed. The
prefix is KORVANE_WINEPREFIX, else <build>/wineprefix. Without DISPLAY it runs
itself under tools/with-display. Three figures, each for both paths that wait for
a maintenance program: the uninstall of the same version (the registered program)
and the upgrade of 1.10 (the staged extsetup.exe, with the silent switches):

  cpu      CPU time of the launcher's process (all its threads, from the
           scheduler's nanosecond account) over 20 s while
           the maintenance program runs and the progress dialog steps, as a share
           of one core, with nothing querying the launcher in that window (the
           robot is told to keep quiet: every query it makes is answered by the
           launcher's own thread); wineserver's share in the same window beside
           it. The reference, measured in the same run the same way: tools/bench/
           bare.cpp's dialog with the progress dialog's bar that a timer steps
           once a second (bare.exe progress N), the least that a bar moving once
           a second costs; and the same dialog on a second thread, stepped by
           messages that the first thread posts once a second (bare.exe progress
           N threaded), the launcher's own arrangement with nothing else. Single
           samples spread by a third between runs under emulation, so there are
           rounds of all four (--cpu-runs, 3) and the medians are compared.
  cancel   from the press of "Cancel" (the robot presses it a fixed delay after
           the progress dialog appeared) to the end of the launcher process.
  close    from the exit of the maintenance program to the end of the launcher:
           the wait for the monitor's next once-a-second poll, the run-up of the
           bar (5 ms per remaining step) and the close; for the upgrade also the
           one-second wait before the staged files are removed, their removal and
           the start of the new installer.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, HERE)

import winbuild  # noqa: E402

CPU_WINDOW_S = 20
PROGRESS = {"caption": "Setup", "buttons": ["Cancel"]}
PATHS = ("uninstall", "upgrade")


class Failed(Exception):
    pass


def cpu_times(pid):
    """CPU seconds of each live thread of PID, from the scheduler's nanosecond
    account: utime and stime in /proc/PID/stat count whole clock ticks (10 ms,
    0.05 % of a 20 s window), too coarse for figures of a tenth of a percent."""
    times = {}
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                times[task] = int(f.read().split()[0]) / 1e9
        except OSError:
            pass  # a thread that ended between the listing and the read
    return times


def run(build, work, scenario, name):
    """One scenario through the runner; its transcript and the stand-in's records."""
    path = os.path.join(work, name + ".json")
    with open(path, "w") as f:
        json.dump(scenario, f)  # one scenario to a file: its name is the file's
    result = subprocess.run([sys.executable, os.path.join(ROOT, "tests", "e2e", "runner.py"),
                             "--launcher", os.path.join(build, "KorvaneSetup.exe"),
                             "--robot", os.path.join(build, "tools", "robot.exe"),
                             "--standin", os.path.join(build, "tools", "standin.exe"),
                             "--winerun", winbuild.WINERUN, "--work", work, path], capture_output=True, text=True)
    if result.returncode != 0:
        raise Failed("the %s run went wrong (runner exit %d):\n%s%s" % (
            name, result.returncode, result.stdout.strip(), ("\n" + result.stderr.strip()).rstrip()))
    out = os.path.join(work, name)
    with open(os.path.join(out, "transcript.json")) as f:
        transcript = json.load(f)
    with open(os.path.join(out, "standin.log")) as f:
        log = [json.loads(l) for l in f]
    return transcript, log


def scenario(path, plan_ms, answer, exit_within_ms):
    """A run that waits PLAN_MS for the maintenance program of PATH, then ANSWER in
    the progress dialog ("wait", or a press of Cancel)."""
    waits = answer == "wait" or answer.get("do") == "wait"
    if path == "uninstall":
        installed, watched = "2.00", "{maint}\\setup.exe"
        started = [{"module": watched, "cmdline": "-runfromtemp -l0x0409 -removeonly"}]
    else:
        installed, watched = "1.10", "{staging}\\extsetup.exe"
        started = [{"module": watched, "files": ["extsetup.exe", "setup.exe", "v1uninst100.iss"]}]
        if waits:  # a finished upgrade goes on to the new installer
            started.append({"module": "{medium}\\extsetup.exe"})
    expect = {"windows": [{"caption": "Setup", "buttons": ["Yes", "No"]}, PROGRESS], "started": started,
              "exit_within_ms": exit_within_ms}
    if path == "upgrade" and not waits:
        expect["staging"] = None  # left for the next run, by design
    return {"installed": {"version": installed}, "plan": {watched: plan_ms}, "answers": ["Yes", answer],
            "timeout_ms": plan_ms + 30000, "expect": expect}


def sample_cpu(pids, problems):
    """The CPU share of each of PIDS over the window, or None with the reason noted."""
    try:
        start = [cpu_times(pid) for pid in pids]
        time.sleep(CPU_WINDOW_S)
        end = [cpu_times(pid) for pid in pids]
    except OSError:
        problems.append("a measured process ended within the %d s window" % CPU_WINDOW_S)
        return None
    # A thread's time is read only while it lives: one that ended in the window
    # would take its share with it, so the sample is refused.
    if any(set(b) - set(e) for b, e in zip(start, end)):
        problems.append("a thread of a measured process ended within the %d s window" % CPU_WINDOW_S)
        return None
    return [(sum(e.values()) - sum(b.values())) / CPU_WINDOW_S for b, e in zip(start, end)]


def measure_reference_cpu(build, prefix, threaded):
    """The bare dialog stepping a bar once a second: its CPU share over the window."""
    steps = CPU_WINDOW_S + 6
    bare = subprocess.Popen([winbuild.WINERUN, os.path.join(build, "tools", "bare.exe"), "progress", str(steps)] +
                            (["threaded"] if threaded else []), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    problems = []
    try:
        found = settled("bare.exe", prefix, bare)
        if len(found) != 1:
            state = "it ended with %s" % bare.returncode if bare.poll() is not None else "it still runs"
            raise Failed("reference: expected one bare.exe in prefix %s for 3 s, found %d (%s)" % (
                prefix, len(found), state))
        shares = sample_cpu(found, problems)
        if shares is None:
            raise Failed("reference: %s" % "; ".join(problems))
        if bare.poll() is not None:
            raise Failed("reference: bare.exe ended within the %d s window" % CPU_WINDOW_S)
    except Failed as e:
        bare.kill()
        raise Failed("%s; its errors: %s" % (e, bare.communicate()[1].decode(errors="replace").strip() or "none"))
    try:
        bare.wait(timeout=30)
    except subprocess.TimeoutExpired:
        bare.kill()
        raise Failed("reference: bare.exe progress did not end within 30 s of its last step")
    if bare.returncode != 1:  # IDOK: it stepped its bar to the end and closed itself
        raise Failed("reference: bare.exe progress ended with %s: %s" % (bare.returncode, bare.stderr.read().decode(
            errors="replace").strip()))
    return shares[0]


def settled(needle, prefix, starter):
    """The processes of PREFIX named NEEDLE, once the same ones have been there for
    3 s (the loaders that start a program under Wine come and go, and a new prefix
    is made on the first start); what is there after 60 s, or when STARTER ended."""
    deadline = time.monotonic() + 60
    found, since = [], time.monotonic()
    while time.monotonic() < deadline and starter.poll() is None:
        time.sleep(0.5)
        now = winbuild.processes(needle, prefix)
        if now != found:
            found, since = now, time.monotonic()
        elif found and time.monotonic() - since >= 3:
            break
    return found


def measure_cpu(build, work, prefix, path, turn):
    """The launcher's and wineserver's CPU share over a window that starts once the
    maintenance program runs (the stand-in's start record) and ends before it exits,
    with the robot quiet in it."""
    samples, problems = {}, []
    name = "bench-cpu-%s-%d" % (path, turn)  # never a stand-in log of an earlier round
    standin_log = os.path.join(work, name, "standin.log")
    done = threading.Event()

    def sampler():
        deadline = time.monotonic() + 120
        while not done.is_set() and time.monotonic() < deadline:
            if os.path.exists(standin_log) and '"start"' in open(standin_log).read():
                break
            time.sleep(0.1)
        else:
            problems.append("the maintenance program did not start within 120 s")
            return
        launcher = winbuild.processes("KorvaneSetup.exe", prefix)
        server = winbuild.processes("wineserver", prefix)
        if len(launcher) != 1 or len(server) != 1:
            problems.append("expected one launcher and one wineserver of prefix %s, found %d and %d" % (
                prefix, len(launcher), len(server)))
            return
        time.sleep(1)  # the progress dialog is up, the monitor is stepping, the robot quiet
        shares = sample_cpu([launcher[0], server[0]], problems)
        if shares is None:
            return
        if '"exit"' in open(standin_log).read():
            problems.append("the maintenance program ended within the %d s window" % CPU_WINDOW_S)
            return
        samples["launcher"], samples["wineserver"] = shares

    thread = threading.Thread(target=sampler)
    thread.start()
    try:
        quiet = {"do": "wait", "quiet": (CPU_WINDOW_S + 5) * 1000}
        run(build, work, scenario(path, (CPU_WINDOW_S + 8) * 1000, quiet, 60000), name)
    finally:
        done.set()
        thread.join()
    if problems:
        raise Failed("cpu of the %s: %s" % (path, "; ".join(problems)))
    return samples


def measure(build, work, prefix, runs, path):
    cancel, close = [], []
    for i in range(runs):
        delay = 1500 + 230 * i  # different places within the one-second pause
        t, _ = run(build, work, scenario(path, 20000, {"press": "Cancel", "delay": delay}, 10000),
                   "bench-cancel-" + path)
        cancel.append(t["exit_ms"] - (t["windows"][-1]["shown_ms"] + delay))
        t, log = run(build, work, scenario(path, 2000 + 170 * i, "wait", 30000), "bench-close-" + path)
        watched = [r["pid"] for r in log if r["event"] == "start"][0]
        exits = [r["tick"] for r in log if r["event"] == "exit" and r["pid"] == watched]
        if len(exits) != 1:
            raise Failed("close of the %s: the stand-in recorded %d exits of the maintenance program" % (
                path, len(exits)))
        close.append(t["launch_tick"] + t["exit_ms"] - exits[0])
    return cancel, close


def main():
    ap = argparse.ArgumentParser(prog="tools/bench/monitor_bench.py", description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", required=True, help="build folder with KorvaneSetup.exe, tools/robot.exe, "
                                                   "tools/standin.exe, tools/bare.exe")
    ap.add_argument("--runs", type=int, default=5, help="runs of the cancel and close figures (default 5)")
    ap.add_argument("--cpu-runs", type=int, default=3, help="rounds of the CPU figures, each of the references "
                                                            "and both paths; the median is shown (default 3)")
    args = ap.parse_args()
    if args.runs < 1 or args.cpu_runs < 1:
        ap.error("--runs and --cpu-runs need at least 1")
    build = os.path.abspath(args.build)
    for exe in ("KorvaneSetup.exe", "tools/robot.exe", "tools/standin.exe", "tools/bare.exe"):
        if not os.path.isfile(os.path.join(build, exe)):
            sys.exit("monitor_bench: %s has no %s: build the Windows build there first" % (build, exe))
    prefix = os.path.abspath(os.environ.get("KORVANE_WINEPREFIX") or os.path.join(build, "wineprefix"))
    os.environ["KORVANE_WINEPREFIX"] = prefix
    winbuild.with_display(__file__)
    if winbuild.pe_bits(os.path.join(build, "KorvaneSetup.exe")) == 64:
        print("launcher: the 64-bit build in %s (not the bytes that ship), run natively by wine64" % build, flush=True)
    else:
        how = winbuild.execution("monitor_bench")
        print("launcher: the build in %s, %s" % (build, "run natively" if how == "native" else
                                                 "run under qemu's emulation of 32-bit programs: the figures are "
                                                 "of the emulation, not the launcher's cost on Windows"), flush=True)
    work = tempfile.mkdtemp(prefix="korvane-bench-")
    figures, cpu = {}, {"reference": [], "threaded": [], "uninstall": [], "upgrade": []}
    server = {path: [] for path in PATHS}
    try:
        for path in PATHS:
            figures[path] = measure(build, work, prefix, args.runs, path)
        # Rounds of all four, so that a slow spell of the machine falls on all alike.
        for turn in range(args.cpu_runs):
            cpu["reference"].append(measure_reference_cpu(build, prefix, False))
            cpu["threaded"].append(measure_reference_cpu(build, prefix, True))
            for path in PATHS:
                shares = measure_cpu(build, work, prefix, path, turn)
                cpu[path].append(shares["launcher"])
                server[path].append(shares["wineserver"])
    except Failed as e:
        sys.exit("monitor_bench: %s" % e)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    def show(label, path, values, goal):
        print("%-6s %-9s mean %5.0f ms  min %5.0f  max %5.0f  (goal %s; n=%d)" % (
            label, path, statistics.mean(values), min(values), max(values), goal, len(values)))
    for path in PATHS:
        show("cancel", path, figures[path][0], "<= 1050 ms")
    show("close", "uninstall", figures["uninstall"][1],
         "<= 1600 ms for run-up and close, plus up to 1000 ms until the next poll")
    show("close", "upgrade", figures["upgrade"][1], "as the uninstall's, plus the 1000 ms wait before the clean-up")

    def share(values):
        return "%.2f %% (%s)" % (statistics.median(values) * 100, " ".join("%.2f" % (v * 100) for v in values))
    reference, threaded = statistics.median(cpu["reference"]), statistics.median(cpu["threaded"])
    print("cpu    medians of %d rounds of %d s each, as shares of one core (each round's figure in brackets)" % (
        args.cpu_runs, CPU_WINDOW_S))
    print("cpu    reference bare dialog stepping a bar once a second: %s; the same with the dialog on a second "
          "thread, stepped by messages the first posts: %s" % (share(cpu["reference"]), share(cpu["threaded"])))
    for path in PATHS:
        launcher = statistics.median(cpu[path])
        print("cpu    %-9s launcher %s, nothing querying it = %.2f x the reference, %.2f x the two-thread one "
              "(goal <= 0.1 %% or <= 1.2 x the reference); wineserver %s" % (
                  path, share(cpu[path]), launcher / reference if reference else float("inf"),
                  launcher / threaded if threaded else float("inf"), share(server[path])))


if __name__ == "__main__":
    main()
