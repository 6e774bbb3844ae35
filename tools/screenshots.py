#!/usr/bin/env python3
"""Screenshots of the launcher's windows, taken from real runs under Wine.

    tools/screenshots.py [--build DIR] [--out DIR] [--only NAME ...]

Builds the launcher, the robot and the stand-in (default build dir
build/screenshots), runs the paths of tools/screenshots/paths.json through the
end-to-end runner, and saves one PNG per window there, cut to the window, into
docs/screenshots/. Wine's own Tahoma and Marlett (fonts-wine) are copied into the
prefix first. Uses DISPLAY when it is set, else a private Xvfb that is
stopped by its pid at the end. The Wine prefix is KORVANE_WINEPREFIX, else
<build>/wineprefix.

A scenario may set "dpi": Wine's LogPixels (HKCU\\Control Panel\\Desktop) for
that run; the value is removed again at the end, which gives Wine's 96 dpi.
An answer with "picture" is held while the window is photographed: the robot
writes a marker file when it sees the window and waits for it to go away; this
script waits "settle_ms" (painting, or a progress bar that should have moved),
finds the window's rectangle with xwininfo, grabs it with ImageMagick's import
and removes the marker, and the robot answers.
"""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SCENARIOS = os.path.join(HERE, "screenshots", "paths.json")
DESKTOP_KEY = r"Control Panel\Desktop"
HOLD_MS = 300000  # the robot's limit; the marker is normally removed long before


def build(build_dir):
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                        "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(ROOT, "cmake", "mingw-w64-i686.cmake")],
                       check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j2", "--target", "KorvaneSetup", "robot", "standin"],
                   check=True, stdout=subprocess.DEVNULL)


def start_xvfb():
    """A private X server; returns (process, display)."""
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp"], pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = os.read(read_fd, 16).decode().strip()
    os.close(read_fd)
    if not number:
        xvfb.kill()
        sys.exit("screenshots: Xvfb did not start")
    return xvfb, ":" + number


def window_rectangle():
    """The launcher's visible top-level window as WxH+X+Y (the largest, if several)."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True).stdout
    best = None
    for line in tree.splitlines():
        m = re.match(r'\s*(0x[0-9a-f]+) "(.*)": \("korvanesetup\.exe".*?\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+)', line)
        if not m or m.group(2) == "Default IME":
            continue
        info = subprocess.run(["xwininfo", "-id", m.group(1)], capture_output=True, text=True).stdout
        if "IsViewable" not in info:
            continue
        w, h = int(m.group(3)), int(m.group(4))
        ax = re.search(r"Absolute upper-left X:\s+(-?\d+)", info)
        ay = re.search(r"Absolute upper-left Y:\s+(-?\d+)", info)
        if ax and ay and (best is None or w * h > best[0] * best[1]):
            best = (w, h, int(ax.group(1)), int(ay.group(1)))
    return "%dx%d+%d+%d" % best if best else None


def photographer(markers, out_dir, done, taken):
    """Waits for the robot's marker files and takes the picture of each window."""
    pending = dict(markers)
    while pending and not done.is_set():
        for marker, (picture, settle_ms) in list(pending.items()):
            if not os.path.exists(marker):
                continue
            time.sleep(settle_ms / 1000)
            rect = window_rectangle()
            target = os.path.join(out_dir, picture)
            args = ["import", "-window", "root"] + (["-crop", rect, "+repage"] if rect else []) + [target]
            ok = subprocess.run(args).returncode == 0
            taken.append((picture, rect if ok else None))
            os.remove(marker)
            del pending[marker]
        time.sleep(0.05)


def prepare(sc, name, work):
    """The scenario as the runner takes it, and the markers of its pictures."""
    sc = json.loads(json.dumps(sc))
    dpi = sc.pop("dpi", 96)
    sc.setdefault("registry", []).append(
        {"view": "hkcu", "key": DESKTOP_KEY, "values": {"LogPixels": {"type": "dword", "data": dpi}}})
    offset = 1 if sc.get("confirm", True) else 0  # the runner puts the confirmation's answer first
    markers = {}
    for i, answer in enumerate(sc.get("answers", [])):
        if isinstance(answer, dict) and "picture" in answer:
            answer["hold"] = HOLD_MS
            marker = os.path.join(work, "shots", name, "hold%d" % (i + offset))
            markers[marker] = (answer.pop("picture"), answer.pop("settle_ms", 800))
    return sc, markers


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=os.path.join(ROOT, "build", "screenshots"))
    ap.add_argument("--out", default=os.path.join(ROOT, "docs", "screenshots"))
    ap.add_argument("--only", nargs="*", help="names of the scenarios to run")
    args = ap.parse_args()
    build_dir, out_dir = os.path.abspath(args.build), os.path.abspath(args.out)
    subprocess.run([os.path.join(HERE, "deps.sh")], check=True)
    build(build_dir)
    os.makedirs(out_dir, exist_ok=True)
    os.environ.setdefault("KORVANE_WINEPREFIX", os.path.join(build_dir, "wineprefix"))
    prefix = os.environ["KORVANE_WINEPREFIX"]

    # Creates the prefix if needed and puts Wine's Tahoma and Marlett into it.
    subprocess.run([os.path.join(HERE, "winerun"), "--prepare"], check=True)
    xvfb = None
    if not os.environ.get("DISPLAY"):
        xvfb, os.environ["DISPLAY"] = start_xvfb()
    work = tempfile.mkdtemp(prefix="korvane-shots-")
    failed = []
    try:
        scenarios = json.load(open(SCENARIOS, encoding="utf-8"))["scenarios"]
        for sc in scenarios:
            if args.only and sc["name"] not in args.only:
                continue
            prepared, markers = prepare(sc, sc["name"], work)
            path = os.path.join(work, "shots.json")
            json.dump({"scenarios": [prepared]}, open(path, "w"))
            done, taken = threading.Event(), []
            camera = threading.Thread(target=photographer, args=(markers, out_dir, done, taken))
            camera.start()
            result = subprocess.run(
                [sys.executable, os.path.join(ROOT, "tests", "e2e", "runner.py"),
                 "--launcher", os.path.join(build_dir, "KorvaneSetup.exe"),
                 "--robot", os.path.join(build_dir, "tools", "robot.exe"),
                 "--standin", os.path.join(build_dir, "tools", "standin.exe"),
                 "--winerun", os.path.join(HERE, "winerun"), "--work", work, path],
                capture_output=True, text=True)
            done.set()
            camera.join()
            for picture, rect in taken:
                print("screenshots: %-24s %s" % (picture, "window " + rect if rect else "whole screen (window not found)"))
            if result.returncode != 0 or len(taken) != len(markers):
                failed.append(sc["name"])
                print("screenshots: %s did not go as expected:\n%s" % (sc["name"], result.stdout.strip()))
    finally:
        # Back to Wine's own dpi for whoever uses the prefix next.
        subprocess.run([os.path.join(HERE, "winerun"), "reg", "delete", "HKCU\\" + DESKTOP_KEY, "/v", "LogPixels",
                        "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if xvfb:
            subprocess.run(["timeout", "30", "wineserver", "-w"], env=dict(os.environ, WINEPREFIX=prefix), check=False)
            xvfb.terminate()
            xvfb.wait()
    print("screenshots: saved in %s%s" % (out_dir, "; failed: " + ", ".join(failed) if failed else ""))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
