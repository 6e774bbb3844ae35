#!/usr/bin/env python3
"""Cost and latency of the process monitor, measured on the real launcher under Wine.

    monitor_bench.py --build BUILD_DIR [--runs N]

Needs DISPLAY (an Xvfb is fine) and the Windows build (KorvaneSetup, robot,
standin). Uses the end-to-end runner, so the prefix is KORVANE_WINEPREFIX or the
runner's default. Three figures:

  cpu      CPU time of the launcher's process (both threads) over 20 s while the
           maintenance program runs, as a share of one core; wineserver's share in
           the same window is printed beside it (the robot polls through it too,
           so it is an upper bound for what the launcher causes there).
  cancel   from the press of "Cancel" (the robot presses it a fixed delay after the
           dialog appeared) to the end of the launcher process.
  close    from the exit of the maintenance program to the end of the launcher:
           the wait for the monitor's next once-a-second poll, the run-up of the
           bar (5 ms per remaining step) and the close.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import shutil
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def find_processes(needle, prefix):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            cmd = open("/proc/%s/cmdline" % entry, "rb").read().replace(b"\0", b" ").decode("utf-8", "replace")
            env = open("/proc/%s/environ" % entry, "rb").read().split(b"\0")
        except OSError:
            continue
        if needle in cmd and ("WINEPREFIX=" + prefix).encode() in env:
            found.append(int(entry))
    return found


def run(build, work, scenario, name):
    path = os.path.join(work, name + ".json")
    json.dump(scenario, open(path, "w"))
    subprocess.run([sys.executable, os.path.join(ROOT, "tests/e2e/runner.py"),
                    "--launcher", os.path.join(build, "KorvaneSetup.exe"),
                    "--robot", os.path.join(build, "tools/robot.exe"),
                    "--standin", os.path.join(build, "tools/standin.exe"),
                    "--winerun", os.path.join(ROOT, "tools/winerun"),
                    "--work", work, path], stdout=subprocess.DEVNULL, check=False)
    out = os.path.join(work, name)
    transcript = json.load(open(os.path.join(out, "transcript.json")))
    log = [json.loads(l) for l in open(os.path.join(out, "standin.log"))]
    return transcript, log


def uninstall(plan_ms, answers):
    return {"installed": {"version": "2.00"}, "plan": {"{maint}\\setup.exe": plan_ms},
            "answers": ["Yes"] + answers, "timeout_ms": plan_ms + 30000}


def measure_cpu(build, work, prefix):
    samples = {}

    def sampler():
        deadline = time.monotonic() + 30
        launcher = []
        while not launcher and time.monotonic() < deadline:
            launcher = find_processes("KorvaneSetup.exe", prefix)
            time.sleep(0.1)
        server = find_processes("wineserver", prefix)
        time.sleep(4)  # past the questions: the dialog is up, the monitor is stepping
        if not launcher:
            return
        start = (cpu_seconds(launcher[0]), cpu_seconds(server[0]) if server else 0.0)
        time.sleep(20)
        end = (cpu_seconds(launcher[0]), cpu_seconds(server[0]) if server else 0.0)
        samples["launcher"] = (end[0] - start[0]) / 20
        samples["wineserver"] = (end[1] - start[1]) / 20

    thread = threading.Thread(target=sampler)
    thread.start()
    run(build, work, uninstall(28000, ["wait"]), "bench-cpu")
    thread.join()
    return samples


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", required=True)
    ap.add_argument("--runs", type=int, default=5)
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    prefix = os.environ.get("KORVANE_WINEPREFIX") or os.path.join(ROOT, "build", "wineprefix")
    os.environ["KORVANE_WINEPREFIX"] = prefix
    work = tempfile.mkdtemp(prefix="korvane-bench-")

    cancel, close = [], []
    for i in range(args.runs):
        delay = 1500 + 230 * i  # different places within the one-second pause
        t, _ = run(build, work, uninstall(20000, [{"press": "Cancel", "delay": delay}]), "bench-cancel")
        dialog = t["windows"][-1]
        cancel.append(t["exit_ms"] - (dialog["shown_ms"] + delay))
        t, log = run(build, work, uninstall(2000 + 170 * i, ["wait"]), "bench-close")
        exited = [r for r in log if r["event"] == "exit"][0]["tick"]
        close.append(t["launch_tick"] + t["exit_ms"] - exited)
    cpu = measure_cpu(build, work, prefix)
    shutil.rmtree(work, ignore_errors=True)

    def show(label, values, goal):
        print("%-8s mean %5.0f ms  min %5.0f  max %5.0f  (goal %s; n=%d)" % (
            label, statistics.mean(values), min(values), max(values), goal, len(values)))
    show("cancel", cancel, "<= 1050 ms")
    show("close", close, "<= 1600 ms for run-up and close, plus up to 1000 ms until the next poll")
    if cpu:
        print("cpu      launcher %.2f %% of one core over 20 s (goal < 1 %%); wineserver %.2f %%" % (
            cpu["launcher"] * 100, cpu["wineserver"] * 100))
    else:
        print("cpu      launcher process not found")


if __name__ == "__main__":
    main()
