#!/usr/bin/env python3
"""Screenshots of the launcher's windows, taken from real runs under Wine.

    tools/screenshots.py [--build DIR] [--out DIR] [--only NAME ...]

Builds the launcher, the robot and the stand-in (default build dir
build/screenshots) for the Windows build that runs on this machine (tools/winerun
--arch: the 32-bit one, or the 64-bit one where 32-bit programs cannot run; the
windows are the same), runs the paths of tools/screenshots/paths.json through the
end-to-end runner, and saves one PNG per window there, cut to the window, into
docs/screenshots/. Wine's own Tahoma and Marlett (fonts-wine) are copied into the
prefix first. Uses DISPLAY when it is set, else runs itself under
tools/with-display. The Wine prefix is KORVANE_WINEPREFIX, else
<build>/wineprefix. Build logs go to <build>/logs. Fails when a path does not go
as expected or a picture is missing.

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
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(HERE, "bench"))

import winbuild  # noqa: E402

SCENARIOS = os.path.join(HERE, "screenshots", "paths.json")
DESKTOP_KEY = r"Control Panel\Desktop"
HOLD_MS = 300000  # the robot's limit; the marker is normally removed long before


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
    ap = argparse.ArgumentParser(prog="tools/screenshots.py", description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build", "screenshots"),
                    help="build folder (default build/screenshots)")
    ap.add_argument("--out", default=os.path.join(ROOT, "docs", "screenshots"),
                    help="where the pictures go (default docs/screenshots)")
    ap.add_argument("--only", nargs="*", help="names of the scenarios to run")
    args = ap.parse_args()
    build_dir, out_dir = os.path.abspath(args.build), os.path.abspath(args.out)
    os.environ["KORVANE_WINEPREFIX"] = os.path.abspath(
        os.environ.get("KORVANE_WINEPREFIX") or os.path.join(build_dir, "wineprefix"))
    winbuild.with_display(__file__)
    subprocess.run([os.path.join(HERE, "deps.sh")], check=True)
    winbuild.build("screenshots", build_dir, ["KorvaneSetup", "robot", "standin"])
    os.makedirs(out_dir, exist_ok=True)

    # Creates the prefix if needed and puts Wine's Tahoma and Marlett into it.
    subprocess.run([winbuild.WINERUN, "--prepare"], check=True)
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
                 "--winerun", winbuild.WINERUN, "--work", work, path],
                capture_output=True, text=True)
            done.set()
            camera.join()
            for picture, rect in taken:
                print("screenshots: %-24s %s" % (picture, "window " + rect if rect else "whole screen (window not found)"))
            if result.returncode != 0 or len(taken) != len(markers) or any(rect is None for _, rect in taken):
                failed.append(sc["name"])
                print("screenshots: %s did not go as expected (%d of %d pictures of the window):\n%s" % (
                    sc["name"], sum(rect is not None for _, rect in taken), len(markers),
                    (result.stdout + result.stderr).strip()))
    finally:
        # Back to Wine's own dpi for whoever uses the prefix next.
        subprocess.run([winbuild.WINERUN, "reg", "delete", "HKCU\\" + DESKTOP_KEY, "/v", "LogPixels", "/f"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)
    print("screenshots: saved in %s%s" % (out_dir, "; failed: " + ", ".join(failed) if failed else ""))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
