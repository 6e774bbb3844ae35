#!/usr/bin/env python3
"""Every benchmark of the launcher in one run, each beside its reference.

    tools/bench/bench.py [--build DIR] [--runs N] [--skip-monitor]

(tools/bench.sh runs this after installing what is missing.) Builds the launcher,
the robot and the stand-in (default build dir build/bench), and with the same
compiler flags tools/bench/bare.cpp (a bare Win32 dialog program, the start-up
reference) and tools/bench/meter.cpp (times and memory from inside Wine). Uses
DISPLAY when set, else a private Xvfb stopped by its pid. The Wine prefix is
KORVANE_WINEPREFIX, else <build>/wineprefix.

  size      the exe's size against 100 KiB, its resource section, the banner's
            share, what a compressor makes of it, and the DLLs it imports
  start-up  CreateProcess to the first visible window, the launcher against the
            bare program, alternating; the launcher's own cost is its time less
            its one-second pause less the bare program's time (medians)
  memory    peak working set and peak pagefile use with the window up, launcher
            and bare program side by side
  staging   the launcher's upgrade stage copying a 200-file, 100 MB maintenance
            folder (from the call to the start of the staged program) against
            Wine's xcopy of the same folder (process start to end), alternating
  monitor   tools/bench/monitor_bench.py: CPU over a 20 s monitored run, cancel
            latency, run-up plus close
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
GUID = "3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13"
KIB = 1024
SIZE_GOAL = 100 * KIB
BANNER_BYTES = 198568
PAUSE_US = 1000000
FLAGS = ["-std=c++17", "-Wall", "-Wextra", "-Os", "-fno-exceptions", "-fno-rtti", "-ffunction-sections",
         "-fdata-sections", "-DWIN32_LEAN_AND_MEAN", "-DNOMINMAX", "-D_WIN32_WINNT=0x0600", "-static", "-s",
         "-Wl,--gc-sections", "-Wl,--no-insert-timestamp"]
CXX = "i686-w64-mingw32-g++-posix" if shutil.which("i686-w64-mingw32-g++-posix") else "i686-w64-mingw32-g++"


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def build(build_dir):
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                        "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(ROOT, "cmake", "mingw-w64-i686.cmake")],
                       check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j2", "--target", "KorvaneSetup", "korvane_win", "robot",
                    "standin"], check=True, stdout=subprocess.DEVNULL)
    out = os.path.join(build_dir, "bench")
    os.makedirs(out, exist_ok=True)
    subprocess.run([CXX] + FLAGS + ["-mwindows", os.path.join(HERE, "bare.cpp"), "-o",
                                    os.path.join(out, "bare.exe")], check=True)
    # The launcher's resources: the upgrade stage shows its progress dialog.
    resources = os.path.join(out, "resources.o")
    subprocess.run(["i686-w64-mingw32-windres", "-I", os.path.join(ROOT, "res"), "-I", ROOT,
                    os.path.join(ROOT, "res", "KorvaneSetup.rc"), "-O", "coff", "-o", resources], check=True)
    subprocess.run([CXX] + FLAGS + ["-I" + ROOT, os.path.join(HERE, "meter.cpp"), resources,
                                    os.path.join(build_dir, "libkorvane_win.a"), "-lpsapi", "-luser32", "-lgdi32",
                                    "-ladvapi32", "-o", os.path.join(out, "meter.exe")], check=True)
    return out


def wine(*args, **kw):
    return subprocess.run([os.path.join(ROOT, "tools", "winerun")] + list(args), capture_output=True, text=True,
                          **kw)


def meter(tools, *args, env=None):
    result = wine(os.path.join(tools, "meter.exe"), *args, env=env)
    values = {}
    for line in result.stdout.splitlines():
        parts = line.split()
        if len(parts) == 2:
            values[parts[0]] = int(parts[1])
    return values


def bench_size(exe):
    size = os.path.getsize(exe)
    objdump = "i686-w64-mingw32-objdump"
    headers = subprocess.run([objdump, "-h", exe], capture_output=True, text=True).stdout
    rsrc = 0
    for line in headers.splitlines():
        parts = line.split()
        if len(parts) > 2 and parts[1] == ".rsrc":
            rsrc = int(parts[2], 16)
    imports = [l.split("DLL Name:")[1].strip() for l in subprocess.run(
        [objdump, "-p", exe], capture_output=True, text=True).stdout.splitlines() if "DLL Name:" in l]
    packed = len(subprocess.run(["xz", "-9e", "-c", exe], capture_output=True).stdout)
    return {"size": size, "rsrc": rsrc, "imports": imports, "xz": packed}


def bench_startup(launcher, tools, work, runs):
    medium = os.path.join(work, "startup")
    os.makedirs(medium, exist_ok=True)
    shutil.copyfile(launcher, os.path.join(medium, "KorvaneSetup.exe"))
    with open(os.path.join(medium, "setup.ini"), "w", newline="") as f:
        f.write("[Startup]\r\nProductGUID=%s\r\nProduct=Korvane\r\n" % GUID)
    bare = os.path.join(tools, "bare.exe")
    meter(tools, "start", win(bare))  # warm both
    meter(tools, "start", win(os.path.join(medium, "KorvaneSetup.exe")))
    rows = {"launcher": [], "bare": []}
    for _ in range(runs):
        rows["bare"].append(meter(tools, "start", win(bare)))
        rows["launcher"].append(meter(tools, "start", win(os.path.join(medium, "KorvaneSetup.exe"))))
    return rows


def bench_staging(tools, work, runs, files=200, total=100 * 1024 * 1024):
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
    launcher, xcopy = [], []
    for i in range(runs + 1):  # the first round warms the caches and is not counted
        if os.path.exists(stamp):
            os.remove(stamp)
        values = meter(tools, "stage", win(medium) + "\\", win(maint), env=env)
        started = int(open(stamp).read()) if os.path.exists(stamp) else None
        target = os.path.join(work, "xcopy-target")
        shutil.rmtree(target, ignore_errors=True)
        x = meter(tools, "xcopy", win(maint), win(target))
        ok = values.get("status") == 0 and started is not None and len(os.listdir(target)) == files
        shutil.rmtree(target, ignore_errors=True)
        if not ok:
            return None, copied
        if i > 0:
            launcher.append(started - values["called_us"])
            xcopy.append(x["xcopy_us"])
    return {"launcher": launcher, "xcopy": xcopy}, copied


def ms(us):
    return us / 1000.0


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=os.path.join(ROOT, "build", "bench"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--skip-monitor", action="store_true", help="leave out the monitor's figures (2-3 minutes)")
    args = ap.parse_args()
    build_dir = os.path.abspath(args.build)
    tools = build(build_dir)
    launcher = os.path.join(build_dir, "KorvaneSetup.exe")
    os.environ.setdefault("KORVANE_WINEPREFIX", os.path.join(build_dir, "wineprefix"))
    prefix = os.environ["KORVANE_WINEPREFIX"]
    xvfb = None
    if not os.environ.get("DISPLAY"):
        read_fd, write_fd = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24", "-nolisten",
                                 "tcp"], pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
        os.close(write_fd)
        os.environ["DISPLAY"] = ":" + os.read(read_fd, 16).decode().strip()
        os.close(read_fd)
    work = tempfile.mkdtemp(prefix="korvane-bench-")
    lines = []

    def say(text=""):
        print(text, flush=True)
        lines.append(text)

    try:
        # As a desktop with a window manager: no 2-second wait for every hidden window.
        wine("reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f")
        wine("reg", "delete", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/f")
        wine_version = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
        say("KorvaneSetup benchmarks, %s, %d runs each" % (wine_version, args.runs))
        say()

        s = bench_size(launcher)
        say("size      exe %d bytes = %.1f KiB, %.2f x the 100 KiB goal; resources %.1f KiB (banner %d bytes), "
            "code and data %.1f KiB" % (s["size"], s["size"] / KIB, s["size"] / SIZE_GOAL, s["rsrc"] / KIB,
                                        BANNER_BYTES, (s["size"] - s["rsrc"]) / KIB))
        say("          xz -9e of the exe: %.1f KiB (%.2f x the goal): what an exe packer would start from"
            % (s["xz"] / KIB, s["xz"] / SIZE_GOAL))
        say("          imports: %s" % ", ".join(s["imports"]))

        rows = bench_startup(launcher, tools, work, args.runs)
        l_shown = [r["shown_us"] for r in rows["launcher"] if "shown_us" in r]
        b_shown = [r["shown_us"] for r in rows["bare"] if "shown_us" in r]
        if l_shown and b_shown:
            l, b = statistics.median(l_shown), statistics.median(b_shown)
            own = l - PAUSE_US - b
            say("start-up  to the first visible window, median: launcher %.0f ms, bare program %.0f ms; launcher "
                "less its 1000 ms pause %.0f ms = %.2f x the bare program; own cost %+.0f ms (goal <= 50 ms)"
                % (ms(l), ms(b), ms(l - PAUSE_US), (l - PAUSE_US) / b, ms(own)))
            say("          launcher runs %s ms; bare %s ms" % (
                ", ".join("%.0f" % ms(v) for v in l_shown), ", ".join("%.0f" % ms(v) for v in b_shown)))
            lw = statistics.median(r["peak_working_set"] for r in rows["launcher"])
            bw = statistics.median(r["peak_working_set"] for r in rows["bare"])
            lp = statistics.median(r["peak_pagefile"] for r in rows["launcher"])
            bp = statistics.median(r["peak_pagefile"] for r in rows["bare"])
            say("memory    peak working set: launcher %.1f MiB, bare %.1f MiB (%.2f x, +%.1f MiB); peak pagefile "
                "use: launcher %.1f MiB, bare %.1f MiB (%.2f x, +%.1f MiB)" % (
                    lw / KIB / KIB, bw / KIB / KIB, lw / bw, (lw - bw) / KIB / KIB,
                    lp / KIB / KIB, bp / KIB / KIB, lp / bp, (lp - bp) / KIB / KIB))
        else:
            say("start-up  not measured: a program showed no window")

        st, copied = bench_staging(tools, work, args.runs)
        if st:
            l, x = statistics.median(st["launcher"]), statistics.median(st["xcopy"])
            say("staging   200 files, %.0f MiB, median: launcher %.0f ms (%.0f MiB/s), Wine's xcopy %.0f ms "
                "(%.0f MiB/s); launcher throughput %.2f x xcopy's (goal >= 0.9)" % (
                    copied / KIB / KIB, ms(l), copied / KIB / KIB / (l / 1e6), ms(x),
                    copied / KIB / KIB / (x / 1e6), x / l))
            say("          launcher runs %s ms; xcopy %s ms" % (
                ", ".join("%.0f" % ms(v) for v in st["launcher"]), ", ".join("%.0f" % ms(v) for v in st["xcopy"])))
        else:
            say("staging   not measured: the upgrade stage or xcopy did not complete")

        if not args.skip_monitor:
            result = subprocess.run([sys.executable, os.path.join(HERE, "monitor_bench.py"), "--build", build_dir,
                                     "--runs", str(args.runs)], capture_output=True, text=True)
            for line in result.stdout.strip().splitlines():
                say("monitor   " + line)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        if xvfb:
            subprocess.run(["timeout", "30", "wineserver", "-w"], env=dict(os.environ, WINEPREFIX=prefix))
            xvfb.terminate()
            xvfb.wait()
    with open(os.path.join(tools, "results.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
