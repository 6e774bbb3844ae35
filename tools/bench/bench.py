#!/usr/bin/env python3
"""Every benchmark of the launcher in one run, each figure beside its reference.

tools/bench.sh runs this after installing what is missing. It builds, in a build
folder of its own (default build/bench), the 32-bit Windows build with the
project's toolchain file: the launcher, the robot,
the stand-in, and the two benchmark programs bench_bare (tools/bench/bare.cpp, a
bare Win32 dialog program, the start-up reference) and bench_meter
(tools/bench/meter.cpp, times and memory from inside Wine). The size figure is of
the 32-bit release launcher, as shipped (cmake --workflow --preset release).

Where the kernel cannot run 32-bit programs, they run under qemu's user-mode
emulation (tools/winerun --arch says "emulated"). The results then say so in
their first line and beside every timing: such figures are of the emulation, and
never the launcher's speed on Windows; how much slower they are differs from
figure to figure (docs/PERFORMANCE.md, "What emulation costs"). The size figure
does not depend on it. The Wine prefix is KORVANE_WINEPREFIX, else <build>/wineprefix. Without DISPLAY it
runs itself under tools/with-display. Build logs go to <build>/logs, the figures
to the screen and to <build>/results.txt.

  size      the release exe's size, its own bytes (all but the banner) against
            64 KiB, its resource section, what a compressor makes of it, the
            DLLs it imports
  start-up  CreateProcess to the first visible window, the launcher against the
            bare program, alternating; the launcher's own cost is its time less
            its one-second pause less the bare program's time (medians)
  memory    peak working set and peak pagefile use with the window up, launcher
            and bare program side by side
  staging   the launcher's upgrade stage staging and guarding a 1,000-file,
            100 MB maintenance folder (from the call to the start of the staged
            program: the directory made, every file copied, held, given the
            guard's descriptor and compared with its source) against Wine's xcopy
            of the same folder (process start to end), alternating
  monitor   tools/bench/monitor_bench.py: CPU over 20 s of a monitored run
            against two bare references (medians of 3 rounds), cancel
            latency, run-up plus close

Every figure is measured or the command fails: a figure that cannot be measured
is named with the reason, and the exit status is 1.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools"))

import product  # noqa: E402
import winbuild  # noqa: E402

GUID = product.identity()["productCode"]
KIB = 1024
OWN_BYTES_GOAL = 64 * KIB  # everything but the banner
BANNER_BYTES = 198568
PAUSE_US = 1000000
TARGETS = ["KorvaneSetup", "robot", "standin", "bench_bare", "bench_meter"]
# Longer than any healthy run by far; a program stuck in a message box ends the
# figure instead of the benchmark waiting for ever.
STAGED_FILES = 1000
METER_LIMIT_S = {"start": 180, "stage": 300, "xcopy": 300}


class NotMeasured(Exception):
    pass


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def winerun(*args, **kw):
    return subprocess.run([winbuild.WINERUN] + list(args), capture_output=True, text=True, **kw)


def meter(tools, mode, *args, env=None):
    """meter.exe's "name value" lines; a failure names the run and the meter's reason."""
    try:
        result = winerun(os.path.join(tools, "meter.exe"), mode, *args, env=env, timeout=METER_LIMIT_S[mode])
    except subprocess.TimeoutExpired:
        # Ends what the stuck run left in this benchmark's own prefix.
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=os.environ["KORVANE_WINEPREFIX"]))
        raise NotMeasured("meter.exe %s %s did not end within %d s" % (mode, " ".join(args), METER_LIMIT_S[mode]))
    values = {}
    for line in result.stdout.splitlines():
        parts = line.split()
        if len(parts) == 2 and parts[1].lstrip("-").isdigit():
            values[parts[0]] = int(parts[1])
    if result.returncode != 0:
        said = [l for l in result.stderr.splitlines() if l.startswith("meter:")] or result.stderr.splitlines()[-3:]
        raise NotMeasured("meter.exe %s %s ended with %d: %s" % (mode, " ".join(args), result.returncode,
                                                                 " / ".join(said) or "no message"))
    return values


def objdump():
    for name in ("i686-w64-mingw32-objdump", "x86_64-w64-mingw32-objdump", "objdump"):
        if shutil.which(name):
            return name
    raise NotMeasured("no objdump that reads PE files (Debian: binutils-mingw-w64-i686)")


def bench_size(exe):
    size = os.path.getsize(exe)
    tool = objdump()
    headers = subprocess.run([tool, "-h", exe], capture_output=True, text=True)
    private = subprocess.run([tool, "-p", exe], capture_output=True, text=True)
    if headers.returncode != 0 or private.returncode != 0:
        raise NotMeasured("%s could not read %s: %s" % (tool, exe, (headers.stderr + private.stderr).strip()))
    rsrc = [int(p[2], 16) for p in (l.split() for l in headers.stdout.splitlines()) if len(p) > 2 and p[1] == ".rsrc"]
    imports = [l.split("DLL Name:")[1].strip() for l in private.stdout.splitlines() if "DLL Name:" in l]
    if len(rsrc) != 1 or not imports:
        raise NotMeasured("%s shows no resource section or no imports in %s" % (tool, exe))
    packed = subprocess.run(["xz", "-9e", "-c", exe], capture_output=True)
    if packed.returncode != 0:
        raise NotMeasured("xz failed: %s" % packed.stderr.decode(errors="replace").strip())
    return {"size": size, "rsrc": rsrc[0], "imports": imports, "xz": len(packed.stdout)}


def bench_startup(launcher, tools, work, runs):
    medium = os.path.join(work, "startup")
    os.makedirs(medium, exist_ok=True)
    shutil.copyfile(launcher, os.path.join(medium, "KorvaneSetup.exe"))
    with open(os.path.join(medium, "setup.ini"), "w", newline="") as f:
        f.write("[Startup]\r\nProductGUID=%s\r\nProduct=Korvane\r\n" % GUID)
    programs = {"bare": win(os.path.join(tools, "bare.exe")),
                "launcher": win(os.path.join(medium, "KorvaneSetup.exe"))}
    for exe in programs.values():  # warm both: page cache, DLLs, Wine's font cache
        meter(tools, "start", exe)
    rows = {"launcher": [], "bare": []}
    for _ in range(runs):
        for name in ("bare", "launcher"):
            rows[name].append(meter(tools, "start", programs[name]))
    return rows


def bench_staging(tools, work, runs, files=STAGED_FILES, total=100 * 1024 * 1024):
    maint = os.path.join(work, "maint")
    medium = os.path.join(work, "medium")
    for d in (maint, medium):
        os.makedirs(d, exist_ok=True)
    chunk = os.urandom(total // files)
    for i in range(files - 2):
        with open(os.path.join(maint, "data%03d.cab" % i), "wb") as f:
            f.write(chunk)
    shutil.copyfile(os.path.join(tools, "meter.exe"), os.path.join(maint, "extsetup.exe"))
    shutil.copyfile(os.path.join(tools, "meter.exe"), os.path.join(maint, "setup.exe"))
    copied = sum(os.path.getsize(os.path.join(maint, n)) for n in os.listdir(maint))
    with open(os.path.join(medium, "v1uninst100.iss"), "w", newline="") as f:
        f.write("[InstallShield Silent]\r\nVersion=v7.00\r\n")
    stamp = os.path.join(work, "stamp.txt")
    env = dict(os.environ, KORVANE_BENCH_STAMP=win(stamp))
    target = os.path.join(work, "xcopy-target")
    launcher, xcopy = [], []
    for i in range(runs + 1):  # the first round warms the caches and is not counted
        if os.path.exists(stamp):
            os.remove(stamp)
        values = meter(tools, "stage", win(medium) + "\\", win(maint), env=env)
        if not os.path.exists(stamp):
            raise NotMeasured("the upgrade stage returned 0 but the staged extsetup.exe never ran")
        with open(stamp) as f:
            started = int(f.read())
        shutil.rmtree(target, ignore_errors=True)
        x = meter(tools, "xcopy", win(maint), win(target))
        count = len(os.listdir(target)) if os.path.isdir(target) else 0
        shutil.rmtree(target, ignore_errors=True)
        if count != files:
            raise NotMeasured("xcopy copied %d of %d files" % (count, files))
        if i > 0:
            launcher.append(started - values["called_us"])
            xcopy.append(x["xcopy_us"])
    return {"launcher": launcher, "xcopy": xcopy}, copied


def ms(us):
    return us / 1000.0


def runs_ms(values):
    return ", ".join("%.0f" % ms(v) for v in values)


def report_size(say, exe):
    s = bench_size(exe)
    own = s["size"] - BANNER_BYTES
    say("size      32-bit release exe %d bytes = %.1f KiB; its own bytes (all but the %d-byte banner) %d = %.1f KiB, "
        "%.2f x the 64 KiB goal; resources %.1f KiB, code and data %.1f KiB"
        % (s["size"], s["size"] / KIB, BANNER_BYTES, own, own / KIB, own / OWN_BYTES_GOAL, s["rsrc"] / KIB,
           (s["size"] - s["rsrc"]) / KIB))
    say("          xz -9e of the exe: %.1f KiB: what an exe packer would start from" % (s["xz"] / KIB))
    say("          imports: %s" % ", ".join(s["imports"]))


def report_startup(say, rows):
    l_shown = [r["shown_us"] for r in rows["launcher"]]
    b_shown = [r["shown_us"] for r in rows["bare"]]
    l, b = statistics.median(l_shown), statistics.median(b_shown)
    say("start-up  to the first visible window, median: launcher %.0f ms, bare program %.0f ms; launcher less its "
        "1000 ms pause %.0f ms = %.2f x the bare program; own cost %+.0f ms (goal <= 50 ms)"
        % (ms(l), ms(b), ms(l - PAUSE_US), (l - PAUSE_US) / b, ms(l - PAUSE_US - b)))
    say("          launcher runs %s ms; bare %s ms" % (runs_ms(l_shown), runs_ms(b_shown)))
    mib = KIB * KIB
    lw = statistics.median(r["peak_working_set"] for r in rows["launcher"])
    bw = statistics.median(r["peak_working_set"] for r in rows["bare"])
    lp = statistics.median(r["peak_pagefile"] for r in rows["launcher"])
    bp = statistics.median(r["peak_pagefile"] for r in rows["bare"])
    say("memory    peak working set: launcher %.1f MiB, bare %.1f MiB (%.2f x, +%.1f MiB); peak pagefile use: "
        "launcher %.1f MiB, bare %.1f MiB (%.2f x, +%.1f MiB)" % (lw / mib, bw / mib, lw / bw, (lw - bw) / mib,
                                                                 lp / mib, bp / mib, lp / bp, (lp - bp) / mib))


def report_staging(say, st, copied):
    l, x = statistics.median(st["launcher"]), statistics.median(st["xcopy"])
    mib = copied / KIB / KIB
    say("staging   %d files, %.0f MiB, staged and guarded, median: launcher %.0f ms (%.0f MiB/s), Wine's xcopy "
        "%.0f ms (%.0f MiB/s); launcher time %.2f x xcopy's, throughput %.2f x xcopy's (goal >= 0.9)"
        % (STAGED_FILES, mib, ms(l), mib / (l / 1e6), ms(x), mib / (x / 1e6), l / x, x / l))
    say("          launcher runs %s ms; xcopy %s ms" % (runs_ms(st["launcher"]), runs_ms(st["xcopy"])))


def report_monitor(say, build_dir, runs):
    result = subprocess.run([sys.executable, os.path.join(HERE, "monitor_bench.py"), "--build", build_dir,
                             "--runs", str(runs)], capture_output=True, text=True)
    for line in result.stdout.strip().splitlines():
        say("monitor   " + line)
    if result.returncode != 0:
        raise NotMeasured("monitor_bench.py ended with %d: %s" % (
            result.returncode, " / ".join(result.stderr.strip().splitlines()[-6:]) or "no message"))


def prepare_prefix():
    """The prefix made and Wine's settings for a desktop-like run: no 2-second wait
    for every hidden window (as with a window manager), Wine's own 96 dpi."""
    steps = [["--prepare"], ["reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"]]
    for step in steps:
        result = winerun(*step)
        if result.returncode != 0:
            sys.exit("bench: tools/winerun %s failed: %s" % (" ".join(step), result.stderr.strip()))
    winerun("reg", "delete", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/f")  # absent is fine
    # A launcher left running in this prefix would make every measured start end
    # at once: the single-instance rule hands over to it without a window.
    running = winbuild.processes("KorvaneSetup.exe", os.environ["KORVANE_WINEPREFIX"])
    if running:
        sys.exit("bench: a launcher already runs in the prefix %s (pid %s); end it first (WINEPREFIX=%s "
                 "wineserver -k)" % (os.environ["KORVANE_WINEPREFIX"], ", ".join(map(str, running)),
                                     os.environ["KORVANE_WINEPREFIX"]))
    version = winerun("--version")
    if version.returncode != 0 or not version.stdout.strip():
        sys.exit("bench: tools/winerun --version failed: %s" % version.stderr.strip())
    return version.stdout.strip()


def main():
    ap = argparse.ArgumentParser(prog="tools/bench/bench.py", description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build", "bench"), help="build folder (default build/bench)")
    ap.add_argument("--runs", type=int, default=5, help="measured runs of each figure (default 5)")
    ap.add_argument("--skip-monitor", action="store_true", help="leave out the monitor's figures (about 10 minutes)")
    args = ap.parse_args()
    build_dir = os.path.abspath(args.build)
    os.environ["KORVANE_WINEPREFIX"] = os.path.abspath(
        os.environ.get("KORVANE_WINEPREFIX") or os.path.join(build_dir, "wineprefix"))
    winbuild.with_display(__file__)

    how = winbuild.build("bench", build_dir, TARGETS)
    release_exe = winbuild.release("bench", os.path.join(build_dir, "logs", "release.log"))
    tools = os.path.join(build_dir, "tools")
    wine_version = prepare_prefix()
    lines, failed = [], []

    def say(text=""):
        print(text, flush=True)
        lines.append(text)

    say("KorvaneSetup benchmarks, %s, %d runs each; the launcher under Wine is the 32-bit build, %s" % (
        wine_version, args.runs, {"native": "run natively",
                                  "emulated": "run under qemu's emulation of 32-bit programs"}[how]))
    if how == "emulated":
        say("EMULATED: this kernel cannot run 32-bit programs; every timing below (start-up, staging, monitor) is "
            "of the launcher under qemu, not its speed on Windows or native Wine")
    say("machine: %s, %d cores; load average at the start %s" % (
        os.uname().nodename, os.cpu_count(), " / ".join("%.2f" % v for v in os.getloadavg())))
    say()
    work = tempfile.mkdtemp(prefix="korvane-bench-")
    timing = say if how == "native" else (lambda text="": say(text + (" [emulated]" if text.strip() else "")))
    figures = [("size", lambda: report_size(say, release_exe)),
               ("start-up and memory", lambda: report_startup(timing, bench_startup(os.path.join(build_dir, "KorvaneSetup.exe"),
                                                                      tools, work, args.runs))),
               ("staging", lambda: report_staging(timing, *bench_staging(tools, work, args.runs)))]
    if not args.skip_monitor:
        figures.append(("monitor", lambda: report_monitor(timing, build_dir, args.runs)))
    try:
        for name, measure in figures:
            try:
                measure()
            except NotMeasured as e:
                failed.append(name)
                say("%s NOT MEASURED: %s" % (name, e))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    say()
    say("load average at the end %s" % " / ".join("%.2f" % v for v in os.getloadavg()))
    with open(os.path.join(build_dir, "results.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    if failed:
        sys.exit("bench: %s could not be measured (see above)" % ", ".join(failed))


if __name__ == "__main__":
    main()
