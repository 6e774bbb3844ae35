"""What the benchmark and the screenshot tool share: the Windows build of the
launcher that runs on this machine, built in a folder of their own with the
project's toolchain file, and an X display from tools/with-display."""
import os
import subprocess
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
WINERUN = os.path.join(ROOT, "tools", "winerun")
# The Windows build tools/winerun says this machine can run, and its toolchain.
TOOLCHAINS = {"win": "mingw-w64-i686.cmake", "win64": "mingw-w64-x86_64.cmake"}


def log_tail(path, lines=25):
    with open(path, errors="replace") as f:
        return "".join(f.readlines()[-lines:])


def run_logged(tool, what, command, log, **kw):
    """Runs a build step with its output in LOG; a failure ends the tool, saying why."""
    os.makedirs(os.path.dirname(log), exist_ok=True)
    with open(log, "w") as out:
        result = subprocess.run(command, stdout=out, stderr=subprocess.STDOUT, **kw)
    if result.returncode != 0:
        sys.exit("%s: %s failed (exit %d); the end of %s:\n%s" % (tool, what, result.returncode, log, log_tail(log)))


def with_display(script):
    """Runs SCRIPT again under tools/with-display when no X display is set: the one
    helper that starts (and stops) an Xvfb. Does not return in that case."""
    if os.environ.get("DISPLAY"):
        return
    helper = os.path.join(ROOT, "tools", "with-display")
    os.execv(helper, [helper, sys.executable, os.path.abspath(script)] + sys.argv[1:])


def arch(tool):
    result = subprocess.run([WINERUN, "--arch"], capture_output=True, text=True)
    name = result.stdout.strip()
    if result.returncode != 0 or name not in TOOLCHAINS:
        sys.exit("%s: tools/winerun --arch gave no Windows build this machine can run: %s" % (
            tool, result.stderr.strip() or repr(name)))
    return name


def build(tool, build_dir, targets):
    """Configures BUILD_DIR (once) with the toolchain of the Windows build that runs
    here and builds TARGETS; returns that build's name (win or win64)."""
    name = arch(tool)
    toolchain = os.path.join(ROOT, "cmake", TOOLCHAINS[name])
    cache = os.path.join(build_dir, "CMakeCache.txt")
    logs = os.path.join(build_dir, "logs")
    if os.path.exists(cache):
        with open(cache) as f:
            configured = [l.split("=", 1)[1].strip() for l in f if l.startswith("CMAKE_TOOLCHAIN_FILE:")]
        if configured != [toolchain]:
            sys.exit("%s: %s is configured for %s, but this machine runs the %s build (%s); remove the folder "
                     "or choose another with --build" % (tool, build_dir, configured[0] if configured else
                                                          "no toolchain", name, toolchain))
    else:
        run_logged(tool, "configuring %s" % build_dir,
                   ["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DKORVANE_BUILD_TESTS=ON",
                    "-DCMAKE_TOOLCHAIN_FILE=" + toolchain], os.path.join(logs, "configure.log"))
    run_logged(tool, "building %s" % " ".join(targets), ["cmake", "--build", build_dir, "-j2", "--target"] + targets,
               os.path.join(logs, "build.log"))
    return name


def processes(needle, prefix):
    """Processes of PREFIX (WINEPREFIX in their environment) whose command line holds NEEDLE."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                cmd = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
            with open("/proc/%s/environ" % entry, "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            continue
        if needle in cmd and ("WINEPREFIX=" + prefix).encode() in env:
            found.append(int(entry))
    return found


def release(tool, log):
    """The 32-bit release launcher, as shipped: build/release/KorvaneSetup.exe."""
    run_logged(tool, "the release build (cmake --workflow --preset release)",
               ["cmake", "--workflow", "--preset", "release"], log, cwd=ROOT)
    return os.path.join(ROOT, "build", "release", "KorvaneSetup.exe")
