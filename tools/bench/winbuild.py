"""What the benchmark and the screenshot tool share: the 32-bit Windows build of
the launcher, built in a folder of their own with the project's toolchain file,
how this machine runs it (natively, or under qemu's emulation of 32-bit
programs), and an X display from tools/with-display."""
import os
import subprocess
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
WINERUN = os.path.join(ROOT, "tools", "winerun")
TOOLCHAIN = os.path.join(ROOT, "cmake", "mingw-w64-i686.cmake")


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


def execution(tool):
    """How 32-bit programs run here: "native" or "emulated" (qemu); ends the tool
    where they cannot run at all."""
    result = subprocess.run([WINERUN, "--arch"], capture_output=True, text=True)
    how = result.stdout.strip()
    if result.returncode != 0 or how not in ("native", "emulated"):
        sys.exit("%s: 32-bit programs cannot run on this machine (tools/winerun --arch): %s" % (
            tool, result.stderr.strip() or repr(how)))
    return how


def pe_bits(path):
    """32 or 64: the machine a Windows program is built for, from its PE header."""
    with open(path, "rb") as f:
        head = f.read(4096)
    at = int.from_bytes(head[0x3C:0x40], "little")
    machine = int.from_bytes(head[at + 4:at + 6], "little") if head[at:at + 4] == b"PE\0\0" else None
    if machine not in (0x14C, 0x8664):
        sys.exit("%s is not a 32-bit or 64-bit x86 Windows program" % path)
    return 32 if machine == 0x14C else 64


def build(tool, build_dir, targets):
    """Configures BUILD_DIR (once) for 32-bit Windows and builds TARGETS; returns how
    this machine runs them (see execution)."""
    how = execution(tool)
    toolchain = TOOLCHAIN
    cache = os.path.join(build_dir, "CMakeCache.txt")
    logs = os.path.join(build_dir, "logs")
    if os.path.exists(cache):
        with open(cache) as f:
            configured = [l.split("=", 1)[1].strip() for l in f if l.startswith("CMAKE_TOOLCHAIN_FILE:")]
        if configured != [toolchain]:
            sys.exit("%s: %s is configured for %s, not the 32-bit build (%s); remove the folder "
                     "or choose another with --build" % (tool, build_dir, configured[0] if configured else
                                                          "no toolchain", toolchain))
    else:
        run_logged(tool, "configuring %s" % build_dir,
                   ["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DKORVANE_BUILD_TESTS=ON",
                    "-DCMAKE_TOOLCHAIN_FILE=" + toolchain], os.path.join(logs, "configure.log"))
    run_logged(tool, "building %s" % " ".join(targets), ["cmake", "--build", build_dir, "-j2", "--target"] + targets,
               os.path.join(logs, "build.log"))
    return how


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
