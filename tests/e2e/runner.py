#!/usr/bin/env python3
"""End-to-end runner: one scenario = one real launcher run, under Wine or on Windows.

    runner.py --launcher EXE --robot EXE --standin EXE --winerun SCRIPT
              --work DIR [--shipped SHA256SUMS] scenario.json [scenario.json ...]

With --shipped, the launcher must be the one a made medium holds: its SHA-256 is
compared with that medium's SHA256SUMS entry for KorvaneSetup.exe before the first
scenario, and every copy laid out on a scenario's medium with the same hash.

A scenario file holds one scenario, or several as {"scenarios": [{"name": ..}, ..]}
(with an optional "about" beside them). A key the runner does not know, or a
missing required field, refuses the whole file. The defaults give a medium with
no installed copy, and the user pressing "Install" in the confirmation.

  "medium":   {"omit": [names], "files": {name: CONTENT}, "readonly": [names]}
              default files: KorvaneSetup.exe, setup.ini (ProductGUID, Product=Korvane),
              extsetup.exe (the stand-in), v1uninst100.iss; "readonly": ["."] makes
              the folder itself read-only too
  "medium_name": the medium folder's name under {work} (default "medium")
  "medium_length": n   nest the medium folder so that its Windows path has n characters
  "temp_length": n     TEMP and TMP: a folder under {work} whose path has n characters
  "launcher_name": the launcher's file name in the medium (default KorvaneSetup.exe)
  "maint_dir": the maintenance directory {maint}, a C:\\ path (default the
              InstallShield Installation Information folder of the product)
  "second_launcher": N   when window N (1-based) shows, start the launcher a
              second time and wait for that one to end before answering
  "installed": {"version": "1.10", "name": "Korvane", "uninstall": CMD}
              the product's uninstall key (32-bit view); a member set to null is
              left out; CMD defaults to '"{maint}\\setup.exe" -runfromtemp -l0x0409
              -removeonly'. Also lays out the maintenance directory {maint}.
  "engine":   {"installed": "1.10"}  before the run, the real installer (NSIS, built
              by the runner from engine/korvane.nsi) of that version installs
              "Korvane Suite" silently; its uninstall key and files are then real
  "follow":   ms   also record and answer the windows of the programs the launcher
              started, and wait (at most ms) for them after the launcher has ended
  "maintenance": {"omit": [...], "files": {...}, "dirs": [...]}
              the maintenance directory (default: setup.exe and extsetup.exe stand-ins)
  "staging_before": {"files": {...}, "junctions": {name: C:\\ folder}}
              a staging directory left from an earlier run; a junction's folder
              gets a keep.txt (under Wine, which cannot make junctions, the
              junction is a Unix symbolic link)
  "edition":  "desktop" (default) or "server": the edition of Windows the scenario
              needs; where the host reports the other one it is skipped
  "registry": [{"view": "32"|"64"|"hkcu", "key": K, "values": {name: VALUE}},
               {"view": .., "key": K, "delete": true}]
              VALUE: text (REG_SZ) | {"type": "dword"|"sz"|"expand_sz"|"binary", "data": ..}
                     | {"type": "sz", "hex": "4142"} (exact bytes, no terminator added)
  "windows":  "vista" | "win7" | ... (Wine's Version setting), or
              {"version": "6.0", "build": "6001", "sp": 1, "csd": "Service Pack 1",
               "type": "WinNT"} (what the registry says; Version left unset). Wine only.
  "native_first": {"KorvaneSetup.exe": [dll names]}  Wine loads these DLLs from the
              program's folder first, as Windows does for DLLs that are not KnownDLLs.
              Wine only (Windows searches that way by itself)
  "hosts":    ["wine"] or ["windows"]: where the scenario can run, with
              "hosts_reason" saying why (printed when it is skipped)
  "env":      {"TEMP": "{work}\\tmp", ...}   for the launcher (and its children); other
              variables than TEMP and TMP may name {temp} and {staging}
  "cwd":      the launcher's current directory (default {work}, not the medium)
  "locale":   e.g. "ja_JP.UTF-8": LC_ALL and LANG for the run (ANSI code page 932;
              LANG alone does not change Wine's code page here). Wine's own texts,
              such as the message-box buttons, then come in that language. A locale
              the system lacks is compiled with localedef into the work folder
              (LOCPATH): without it Wine cannot map non-ASCII file names. Wine only.
  "plan":     {"<substring of module path>": ms}  how long stand-ins stay alive
  "confirm":  true (default): expect the confirmation dialog first and press
              "Install"; "cancel": the same, pressing "Cancel"; false: none implied
  "answers":  list, one per window in order: "Yes" (press by text), "#7" (by id),
              "wait" (closes by itself), "escape", "enter", "close", "altf4", or
              {"press": "Yes", "delay": ms, "hold": ms, "shot": "file.png"}; with
              "quiet": ms, once the window has settled the robot queries no window
              for that long (a benchmark's window without the robot's own load)
  "timeout_ms": hard limit for the launcher (default 60000)
  "expect": {                                            (required)
     "started": [{"module", "cmdline", "cwd", "files": [names]}],   (required)
              stand-in starts in order
     "windows": [{"caption", "text", "richedit", "statics", "buttons": [texts],
                  "default": text, "icon": false|true|"error"|"warning"|"information",
                  "sysmenu", "progress": {"min", "max", "first", "last", "highest"}}]
              only the keys given are compared; a number may be {">=": n, "<=": m}
     "sequential": true (default): each start comes after the earlier programs ended
     "staging": "absent" (default) | [file names] | null (not checked)
     "medium_absent": [glob patterns]   no file of the medium may match them
     "medium_present": [glob patterns]  each matches a file of the medium
     "second_launcher": {"ended": true, "windows": 0, "exit_ms": {"<=": n}}
     "exit_within_ms": 30000 (default)
     "registry": [{"view": "32", "key": K, "values": {name: text}} | {.., "absent": true}]
              after the run (and the programs followed): the key holds at least
              these values, or does not exist
     "files":  {"present": [C:\\ paths], "absent": [C:\\ paths]}   after the run
  }
CONTENT: text | {"hex": ".."} | {"text": "..", "encoding": "cp932"}
         | {"copy": "standin"|"launcher"|"planted"} | {"engine": "2.00"} (the real installer)
         | {"text": "..", "repeat": "..", "times": n}   the text, then the repeat n times
Placeholders in texts: {medium} {work} {cwd} {temp} {staging} {maint} {guid}
{programfiles} (the 32-bit Program Files folder), and {syserr:N}, the system's
message text for error code N. In "expect" only: {medium_short} and {temp_short},
the short (8.3) forms of {medium} and {temp} as the system gives them after the
run, and {staging_short}, {temp_short} followed by the staging directory's name
(the forms by which the launcher reaches folders whose names the code page
cannot write).
"""
import argparse
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools"))

import host as hosts  # noqa: E402
import product  # noqa: E402
import schema  # noqa: E402


PRODUCT = product.identity()
GUID = PRODUCT["productCode"]
STAGING = PRODUCT["stagingDirectory"]
UNINSTALL = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"
PRODUCT_KEY = UNINSTALL + "\\{" + GUID + "}"
DRIVER_KEY = UNINSTALL + "\\Rainbow Sentinel Driver"
MAINT_NAME = "InstallShield Installation Information\\{" + GUID + "}"
ENGINE_PRODUCT = "Korvane Suite"
DEFAULT_UNINSTALL = '"{maint}\\setup.exe" -runfromtemp -l0x0409 -removeonly'
SETUP_INI = "[Startup]\r\nProductGUID=" + GUID + "\r\nProduct=Korvane\r\n"
RESPONSE_FILE = "[InstallShield Silent]\r\nVersion=v7.00\r\n"
CONFIRM_WINDOW = {
    "caption": "Installation Confirmation",
    "richedit": "Korvane v.2.0 is about to be installed. Your computer may restart during "
                "installation. Please save any unsaved files before continuing. Click "
                "'Install' to begin installation or 'Cancel' to exit.",
    "buttons": ["Install", "Cancel"], "default": "Install", "icon": False, "sysmenu": False,
}
KEYWORDS = ("wait", "escape", "enter", "close", "altf4")
# How long the real engine's uninstaller of each version works: 1.10's is slow, so
# that a launcher that stops waiting for it too early is caught.
ENGINE_UNINSTALL_MS = {"1.10": 8000, "2.00": 1000}


# ---- laying out files -------------------------------------------------------

def write_content(path, content, exes):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if isinstance(content, dict) and "copy" in content:
        shutil.copyfile(exes[content["copy"]], path)
    elif isinstance(content, dict) and "engine" in content:
        shutil.copyfile(exes["engine"](content["engine"]), path)
    elif isinstance(content, dict) and "repeat" in content:
        with open(path, "wb") as f:
            f.write(content.get("text", "").encode("utf-8"))
            f.write(content["repeat"].encode("utf-8") * content["times"])
    elif isinstance(content, dict) and "hex" in content:
        open(path, "wb").write(bytes.fromhex(content["hex"]))
    elif isinstance(content, dict):
        open(path, "wb").write(content["text"].encode(content.get("encoding", "utf-8")))
    else:
        open(path, "wb").write(content.encode("utf-8"))


def lay_out(directory, defaults, spec, exes, expand):
    files = dict(defaults)
    files.update(spec.get("files", {}))
    for name in spec.get("omit", []):
        files.pop(name, None)
    for name, content in files.items():
        if isinstance(content, str):
            content = expand(content)
        write_content(os.path.join(directory, name), content, exes)
    for d in spec.get("dirs", []):
        os.makedirs(os.path.join(directory, d), exist_ok=True)
    for name in spec.get("readonly", []):
        target = os.path.join(directory, name)
        os.chmod(target, 0o555 if os.path.isdir(target) else 0o444)


def remove(path):
    if os.path.isdir(path):
        for root, dirs, files in os.walk(path):
            for n in dirs + files:
                os.chmod(os.path.join(root, n), 0o755)
        shutil.rmtree(path)


def long_path(host, base, length, letter):
    """A folder under base whose Windows path has exactly length characters,
    made of nested names of at most 100 characters."""
    path = os.path.join(base, letter)
    while len(host.win(path)) < length:
        room = length - len(host.win(path))
        path = path + letter if room == 1 else os.path.join(path, letter * min(100, room - 1))
    if len(host.win(path)) != length:
        sys.exit("runner: cannot make a path of %d characters under %s" % (length, base))
    return path


# ---- the real installer engine ----------------------------------------------

class Engine:
    """Builds the real installers of "Korvane Suite" with NSIS, once per version,
    for the architecture of the launcher under test."""

    def __init__(self, host, launcher, work):
        self.host = host
        self.target = "amd64-unicode" if hosts.pe_machine(launcher) == 0x8664 else "x86-unicode"
        self.folder = os.path.join(os.path.abspath(work), "engine", self.target)
        self.built = {}

    def installer(self, version):
        if version in self.built:
            return self.built[version]
        makensis = self.host.makensis()
        if not makensis:
            sys.exit("runner: makensis is needed for the real-engine scenarios (Debian: nsis; "
                     "Windows: NSIS 3); tools/deps.sh installs it")
        os.makedirs(self.folder, exist_ok=True)
        out = os.path.join(self.folder, "korvane-%s.exe" % version)
        result = subprocess.run([makensis, "-V2", "-DVERSION=" + version, "-DTARGET=" + self.target,
                                 "-DPRODUCT_CODE=" + GUID, "-DUNINSTALL_MS=%d" % ENGINE_UNINSTALL_MS.get(version, 1000),
                                 "-DOUTFILE=" + out, os.path.join(HERE, "engine", "korvane.nsi")],
                                capture_output=True, text=True)
        if result.returncode != 0 or not os.path.isfile(out):
            sys.exit("runner: makensis failed for Korvane Suite %s:\n%s%s" % (version, result.stdout, result.stderr))
        self.built[version] = out
        return out

    def install(self, version):
        """Installs that version silently, as an administrator's deployment would."""
        result = subprocess.run(self.host.command(self.installer(version), "/S"), capture_output=True, text=True,
                                timeout=120)
        return result.returncode


# ---- one scenario -----------------------------------------------------------

def esc(field):
    return str(field).replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def registry_lines(sc, host, expand, product_installed=False):
    """The robot's registry preparation. The product's key is removed first, unless
    the real installer has just written it (product_installed)."""
    keys = (DRIVER_KEY,) if product_installed else (PRODUCT_KEY, DRIVER_KEY)
    lines = [["regdel", v, k] for v in ("32", "64") for k in keys]
    lines += host.registry_lines(sc)
    entries = list(sc.get("registry", []))
    if "installed" in sc:
        inst = {"name": "Korvane", "version": "2.00", "uninstall": DEFAULT_UNINSTALL}
        inst.update(sc["installed"])
        values = {}
        for member, value in (("name", "DisplayName"), ("version", "DisplayVersion"), ("uninstall", "UninstallString")):
            if inst[member] is not None:
                values[value] = inst[member]
        entries.insert(0, {"view": "32", "key": PRODUCT_KEY, "values": values})
    for e in entries:
        if e.get("delete"):
            lines.append(["regdel", e["view"], e["key"]])
            continue
        lines.append(["regkey", e["view"], e["key"]])
        for name, value in e.get("values", {}).items():
            if not isinstance(value, dict):
                value = {"type": "sz", "data": value}
            if "hex" in value:
                lines.append(["regraw", e["view"], e["key"], name, value["type"], value["hex"]])
            else:
                lines.append(["regset", e["view"], e["key"], name, value["type"], expand(str(value["data"]))])
    return lines


def answer_line(a, marker):
    if isinstance(a, str):
        a = {"do": a} if a in KEYWORDS else {"press": a}
    action = a.get("do", "press")
    hold = a.get("hold", 5000 if "shot" in a else 0)
    return ["answer", action, a.get("press", ""), a.get("delay", 0), hold, marker if hold else "", a.get("quiet", 0)]


class Run:
    """One scenario's run: its folders, its placeholders and what it expects."""

    def __init__(self, name, sc, args, host, engine):
        self.name, self.sc, self.args, self.host, self.engine = name, sc, args, host, engine
        self.work = os.path.join(os.path.abspath(args.work), name)
        self.syserr = {}
        self.places = {"work": host.win(self.work), "guid": GUID, "programfiles": host.program_files_x86}
        self.maint_win = sc.get("maint_dir", host.program_files_x86 + "\\" + MAINT_NAME)
        self.places["maint"] = self.maint_win
        self.shots = {}

    def expand(self, text):
        return re.sub(r"\{(\w+)(?::(\d+))?\}",
                      lambda m: self.syserr.get(int(m.group(2)), m.group(0)) if m.group(2)
                      else self.places.get(m.group(1), m.group(0)), text)

    def expand_tree(self, x):
        if isinstance(x, str):
            return self.expand(x)
        if isinstance(x, list):
            return [self.expand_tree(v) for v in x]
        if isinstance(x, dict):
            return {k: self.expand_tree(v) for k, v in x.items()}
        return x

    def local(self, winpath):
        return self.host.local(winpath)

    # -- steps, in the order of a run

    def lay_out_medium(self):
        sc = self.sc
        remove(self.work)
        self.medium = os.path.join(self.work, sc.get("medium_name", "medium"))
        if "medium_length" in sc:
            self.medium = long_path(self.host, self.work, sc["medium_length"], "m")
        os.makedirs(self.medium)
        self.places["medium"] = self.host.win(self.medium)
        self.env = {k: self.expand(v) for k, v in sc.get("env", {}).items()}
        if "temp_length" in sc:
            self.env["TEMP"] = self.env["TMP"] = self.host.win(long_path(self.host, self.work, sc["temp_length"], "t"))
        temp_win = self.env.get("TEMP", self.host.temp_win).rstrip("\\")
        self.places.update(temp=temp_win, staging=temp_win + "\\" + STAGING)
        # The other variables may name {temp} and {staging}, known only now.
        self.env = {k: self.expand(v) for k, v in self.env.items()}
        self.places["cwd"] = self.expand(sc.get("cwd", "{work}"))
        self.exes = {"launcher": self.args.launcher, "standin": self.args.standin, "planted": self.args.planted,
                     "engine": self.engine.installer}
        self.launcher_name = sc.get("launcher_name", "KorvaneSetup.exe")
        defaults = {self.launcher_name: {"copy": "launcher"}, "setup.ini": SETUP_INI,
                    "extsetup.exe": {"copy": "standin"}, "v1uninst100.iss": RESPONSE_FILE}
        lay_out(self.medium, defaults, sc.get("medium", {}), self.exes, self.expand)
        if self.args.shipped_hash:
            for name in os.listdir(self.medium):
                spec = sc.get("medium", {}).get("files", {}).get(name, defaults.get(name))
                if spec == {"copy": "launcher"} and sha256(os.path.join(self.medium, name)) != self.args.shipped_hash:
                    sys.exit("runner: %s on the scenario's medium is not the shipped launcher" % name)

    def clear_machine(self):
        """What earlier scenarios may have left: the product's folders and staging."""
        for path in (self.host.program_files_x86 + "\\" + MAINT_NAME, self.maint_win,
                     self.host.program_files_x86 + "\\" + ENGINE_PRODUCT,
                     self.host.temp_win + "\\" + STAGING, self.places["staging"]):
            remove(self.local(path))
        os.makedirs(self.local(self.places["temp"]), exist_ok=True)
        os.makedirs(self.local(self.places["cwd"]), exist_ok=True)

    def lay_out_installed(self):
        sc = self.sc
        if "installed" in sc or "maintenance" in sc:
            lay_out(self.local(self.maint_win), {"setup.exe": {"copy": "standin"}, "extsetup.exe": {"copy": "standin"}},
                    sc.get("maintenance", {}), self.exes, self.expand)
        if "staging_before" in sc:
            staging = self.local(self.places["staging"])
            lay_out(staging, {}, sc["staging_before"], self.exes, self.expand)
            for name, target in sc["staging_before"].get("junctions", {}).items():
                # The folder a junction points at holds a file that must survive.
                target = self.expand(target)
                write_content(os.path.join(self.local(target), "keep.txt"), "outside the staging folder", self.exes)
                if not self.host.junction(self.places["staging"] + "\\" + name, target):
                    sys.exit("runner: cannot create the junction %s -> %s" % (name, target))

    def script(self):
        """The robot's script: registry preparation, the launcher, the answers."""
        sc = self.sc
        self.log, self.plan, self.stop = (os.path.join(self.work, n) for n in ("standin.log", "plan.txt", "stop"))
        with open(self.plan, "w") as f:
            for text, ms in sc.get("plan", {}).items():
                f.write("%s %d\n" % (self.expand(text), ms))
        answers = list(sc.get("answers", []))
        self.expected = dict(sc["expect"])
        self.expected_windows = list(self.expected.get("windows", []))
        confirm = sc.get("confirm", True)
        if confirm:
            answers.insert(0, "Cancel" if confirm == "cancel" else "Install")
            self.expected_windows.insert(0, CONFIRM_WINDOW)
        codes = set(int(c) for c in re.findall(r"\{syserr:(\d+)\}", json.dumps(self.expected)))
        win = self.host.win
        lines = registry_lines(sc, self.host, self.expand, product_installed="engine" in sc)
        lines += [["exe", win(os.path.join(self.medium, self.launcher_name))], ["cwd", self.places["cwd"]],
                  ["out", win(os.path.join(self.work, "transcript.json"))], ["timeout", sc.get("timeout_ms", 60000)],
                  ["env", "KORVANE_STANDIN_LOG", win(self.log)], ["env", "KORVANE_STANDIN_PLAN", win(self.plan)],
                  ["env", "KORVANE_STANDIN_STOP", win(self.stop)]]
        lines += [["env", k, v] for k, v in self.env.items()]
        lines += [["systext", c] for c in sorted(codes)]
        if "second_launcher" in sc:
            lines.append(["second", sc["second_launcher"]])
        if "follow" in sc:
            lines.append(["follow", sc["follow"]])
        for e in self.expected.get("registry", []):
            lines.append(["regquery", e["view"], self.expand(e["key"])])
        lines += [["shortpath", self.places["medium"]], ["shortpath", self.places["temp"]]]
        for i, a in enumerate(answers):
            marker = os.path.join(self.work, "hold%d" % i)
            lines.append(answer_line(a, win(marker)))
            if isinstance(a, dict) and "shot" in a:
                self.shots[marker] = a["shot"]
        path = os.path.join(self.work, "script.txt")
        with open(path, "w", encoding="utf-8") as f:
            f.writelines("\t".join(esc(x) for x in line) + "\n" for line in lines)
        return path

    def install_engine(self):
        """The real installer's own registration and files, before the launcher runs.
        The robot's registry preparation deletes the product key, so this runs the
        robot's preparation first (a script without a launcher)."""
        version = self.sc.get("engine", {}).get("installed")
        if version is None:
            return []
        win = self.host.win
        prep = os.path.join(self.work, "prepare.txt")
        with open(prep, "w", encoding="utf-8") as f:
            f.writelines("\t".join(esc(x) for x in line) + "\n" for line in registry_lines(self.sc, self.host, self.expand))
        subprocess.run(self.host.command(self.args.robot, win(prep)), capture_output=True, timeout=120)
        code = self.engine.install(version)
        if code != 0:
            return ["the real installer of Korvane Suite %s ended with %d" % (version, code)]
        return []

    def run_robot(self, script):
        run_env = dict(os.environ)
        if "locale" in self.sc:
            run_env.update(self.host.locale_env(self.sc["locale"], self.args.work))
        started_at = time.monotonic()
        # Output goes to a file, not a pipe: programs started during the run (the
        # stand-ins, wineserver) inherit it and may outlive the robot.
        robot_log = open(os.path.join(self.work, "robot.out"), "w+b")
        robot = subprocess.Popen(self.host.command(self.args.robot, self.host.win(script)), env=run_env,
                                 stdout=robot_log, stderr=subprocess.STDOUT)
        limit = started_at + (self.sc.get("timeout_ms", 60000) + self.sc.get("follow", 0)) / 1000 + 60
        while robot.poll() is None and time.monotonic() < limit:
            for marker, shot in list(self.shots.items()):
                if os.path.exists(marker):
                    self.host.screenshot(shot)
                    os.remove(marker)
                    del self.shots[marker]
            time.sleep(0.05)
        problems = []
        if robot.poll() is None:
            robot.kill()
            problems.append("the robot did not end; killed")
        robot.wait()
        robot_log.seek(0)
        self.robot_out = robot_log.read().decode("utf-8", "replace")
        robot_log.close()
        self.records = self.collect_records()
        self.elapsed = time.monotonic() - started_at
        return problems

    def collect_records(self):
        """Ends stand-ins that still run and waits for their records: a program that
        the launcher started just before it ended may not have written yet."""
        open(self.stop, "w").close()
        want = len(self.expected.get("started", []))
        records, text, changed = [], None, time.monotonic()
        deadline = changed + 10
        while time.monotonic() < deadline:
            now_text = open(self.log, encoding="utf-8").read() if os.path.exists(self.log) else ""
            if now_text != text:
                text, changed = now_text, time.monotonic()
                records = [json.loads(line) for line in text.splitlines()]
            starts_n = sum(r["event"] == "start" for r in records)
            if starts_n >= want and starts_n == len(records) - starts_n and time.monotonic() - changed >= 0.5:
                break
            time.sleep(0.05)
        return records

    def read_transcript(self):
        try:
            t = json.load(open(os.path.join(self.work, "transcript.json"), encoding="utf-8"))
        except (OSError, ValueError):
            return None
        self.syserr.update({int(k): v for k, v in t["system_texts"].items()})
        medium_short, temp_short = t["short_paths"]
        self.places.update(medium_short=medium_short, temp_short=temp_short,
                           staging_short=temp_short + "\\" + STAGING)
        self.expected = self.expand_tree(self.expected)
        self.expected_windows = self.expand_tree(self.expected_windows)
        return t

    # -- comparisons

    def check(self, t, problems):
        expected = self.expected
        problems += ["registry preparation: " + e for e in t["setup_errors"]]
        if not t["launched"]:
            problems.append("the launcher could not be started (error %d)" % t["launch_error"])
        limit = expected.get("exit_within_ms", 30000)
        if t["timed_out"]:
            problems.append("the launcher did not end within %d ms and was killed" % self.sc.get("timeout_ms", 60000))
        elif t["exit_ms"] is not None and t["exit_ms"] > limit:
            problems.append("the launcher ended after %d ms, later than %d ms" % (t["exit_ms"], limit))
        if t.get("family_left"):
            problems.append("%d program(s) the launcher started still ran %d ms after it ended"
                            % (t["family_left"], self.sc.get("follow", 0)))
        compare_windows(self.expected_windows, t["windows"], problems)
        starts = [r for r in self.records if r["event"] == "start"]
        compare_started(expected["started"], starts, problems)
        if expected.get("sequential", True):
            exits = {r["pid"]: r for r in self.records if r["event"] == "exit"}
            for i, s in enumerate(starts):
                for p in starts[:i]:
                    if p["pid"] in exits and exits[p["pid"]]["tick"] > s["tick"]:
                        problems.append("%s started while %s was still running" % (s["module"], p["module"]))
        self.check_disk(problems)
        compare_registry(expected.get("registry", []), t.get("registry", []), problems)
        if "second_launcher" in expected:
            second = t.get("second")
            if second is None:
                problems.append("the second launcher was not started")
            else:
                for k, v in expected["second_launcher"].items():
                    if not matches(v, second.get(k)):
                        problems.append("second launcher %s: expected %s, seen %s" % (k, json.dumps(v), json.dumps(second.get(k))))
        return starts

    def check_disk(self, problems):
        expected = self.expected
        staging = expected.get("staging", "absent")
        staging_local = self.local(self.places["staging"])
        if staging is not None:
            left = sorted(os.listdir(staging_local)) if os.path.isdir(staging_local) else None
            if staging == "absent" and left is not None:
                problems.append("staging directory left behind with %s" % left)
            elif staging != "absent" and left != sorted(staging):
                problems.append("staging directory: expected %s, found %s" % (sorted(staging), left))
        for pattern in expected.get("medium_absent", []):
            found = sorted(os.path.relpath(p, self.medium) for p in glob.glob(os.path.join(self.medium, pattern)))
            if found:
                problems.append("found in the medium: %s" % found)
        for pattern in expected.get("medium_present", []):
            if not glob.glob(os.path.join(self.medium, pattern)):
                problems.append("not found in the medium: %s" % pattern)
        files = expected.get("files", {})
        for path in files.get("present", []):
            if not os.path.exists(self.local(path)):
                problems.append("expected on disk but missing: %s" % path)
        for path in files.get("absent", []):
            if os.path.exists(self.local(path)):
                problems.append("expected gone but still on disk: %s" % path)

    def report(self, t, starts, problems):
        if not problems:
            print("PASS %s (%.1f s, launcher ended at %s ms)" % (self.name, self.elapsed, t["exit_ms"]))
            return True
        print("FAIL %s (%.1f s)" % (self.name, self.elapsed))
        for p in problems:
            print("  - " + p)
        print("  windows seen:")
        for w in t["windows"]:
            print("    %5s ms  %s" % (w["shown_ms"], json.dumps(window_view(w, ["caption", "text", "richedit", "buttons", "default", "icon"]), ensure_ascii=False)))
            print("             answered: %s; gone at %s ms" % (w["answer"], w["gone_ms"]))
        print("  started:")
        for r in starts:
            print("    %s  cmdline %s  cwd %s" % (r["module"], json.dumps(r["cmdline"], ensure_ascii=False), r["cwd"]))
        for key in t.get("registry", []):
            print("  registry %s (%s): %s" % (key["key"], key["view"], json.dumps(key["values"]) if key["exists"] else "absent"))
        print("  launcher ended at %s ms; work directory %s" % (t["exit_ms"], self.work))
        return False


def run_scenario(name, sc, args, host, engine):
    reason = host.lacks(sc)
    if reason:
        print("SKIP %s on %s: %s" % (name, host.name, reason))
        return None
    run = Run(name, sc, args, host, engine)
    run.lay_out_medium()
    run.clear_machine()
    run.lay_out_installed()
    script = run.script()
    problems = run.install_engine()
    problems += run.run_robot(script)
    t = run.read_transcript()
    if t is None:
        print("FAIL %s: no transcript; robot said:\n%s" % (name, run.robot_out))
        return False
    starts = run.check(t, problems)
    return run.report(t, starts, problems)


def restore_machine(args, host):
    """Leaves the machine as a test that comes after expects it: Wine's own keys
    back to the prefix's defaults (the last scenario may have faked another Windows
    version), no product or driver key, no product folders or staging."""
    path = os.path.join(args.work, "restore.txt")
    os.makedirs(args.work, exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.writelines("\t".join(esc(x) for x in line) + "\n" for line in registry_lines({}, host, lambda text: text))
    result = subprocess.run(host.command(args.robot, host.win(path)), capture_output=True, timeout=120)
    for folder in (host.program_files_x86 + "\\" + MAINT_NAME, host.program_files_x86 + "\\" + ENGINE_PRODUCT,
                   host.temp_win + "\\" + STAGING):
        remove(host.local(folder))
    if result.returncode != 0:
        print("runner: restoring the machine after the run failed (robot status %d):\n%s" % (
            result.returncode, result.stdout.decode("utf-8", "replace")))
        return False
    return True


# ---- comparisons ------------------------------------------------------------

def seen_default(w):
    for b in w["buttons"]:
        if b["defpush"]:
            return b["text"]
    for b in w["buttons"]:
        if b["id"] == w["default_id"]:
            return b["text"]
    return None


def window_view(w, keys):
    """The seen window in the terms of an expectation."""
    view = {"caption": w["caption"], "text": w["text"], "richedit": w["richedit"],
            "statics": w["statics"], "buttons": [b["text"] for b in w["buttons"]],
            "default": seen_default(w), "sysmenu": w["sysmenu"]}
    view["icon"] = (w["icon_kind"] or True) if w["icon"] else False
    if w["progress"]:
        view["progress"] = w["progress"]
    return {k: view.get(k) for k in keys}


def matches(expected, seen):
    if isinstance(expected, dict) and set(expected) <= {">=", "<="}:
        return isinstance(seen, int) and seen >= expected.get(">=", seen) and seen <= expected.get("<=", seen)
    if isinstance(expected, dict):
        return isinstance(seen, dict) and all(matches(v, seen.get(k)) for k, v in expected.items())
    if expected is True:  # an icon of any kind
        return seen is True or (isinstance(seen, str) and seen != "")
    return expected == seen


def compare_windows(expected, seen, problems):
    for i in range(max(len(expected), len(seen))):
        e = expected[i] if i < len(expected) else None
        s = seen[i] if i < len(seen) else None
        if e is None:
            problems.append("window %d not expected: %s" % (i + 1, json.dumps(window_view(s, ["caption", "text", "richedit", "buttons"]), ensure_ascii=False)))
            continue
        if s is None:
            problems.append("window %d expected but not seen: %s" % (i + 1, json.dumps(e, ensure_ascii=False)))
            continue
        got = window_view(s, e.keys())
        for k, v in e.items():
            if not matches(v, got[k]):
                problems.append("window %d (%s) %s:\n    expected %s\n    seen     %s" % (
                    i + 1, s["caption"], k, json.dumps(v, ensure_ascii=False), json.dumps(got[k], ensure_ascii=False)))
        if "no such button" in s["answer"]:
            problems.append("window %d (%s) could not be answered: %s" % (i + 1, s["caption"], s["answer"]))
        if s["unscripted"]:
            problems.append("window %d (%s) had no answer in the scenario (answered with %s)" % (i + 1, s["caption"], s["answer"]))


def compare_started(expected, starts, problems):
    for i in range(max(len(expected), len(starts))):
        e = expected[i] if i < len(expected) else None
        s = starts[i] if i < len(starts) else None
        if e is None:
            problems.append("start %d not expected: %s %s" % (i + 1, s["module"], json.dumps(s["cmdline"], ensure_ascii=False)))
        elif s is None:
            problems.append("start %d expected but nothing was started: %s" % (i + 1, json.dumps(e, ensure_ascii=False)))
        else:
            for k, v in e.items():
                got = sorted(s[k]) if k == "files" else s[k]
                want = sorted(v) if k == "files" else v
                same = want.lower() == got.lower() if k in ("module", "cwd") else want == got
                if not same:
                    problems.append("start %d %s:\n    expected %s\n    seen     %s" % (
                        i + 1, k, json.dumps(want, ensure_ascii=False), json.dumps(got, ensure_ascii=False)))


def compare_registry(expected, seen, problems):
    for e, s in zip(expected, seen):
        where = "%s (%s view)" % (e["key"], e["view"])
        if e.get("absent"):
            if s["exists"]:
                problems.append("registry %s: expected absent, holds %s" % (where, json.dumps(s["values"])))
        elif not s["exists"]:
            problems.append("registry %s: expected, but the key does not exist" % where)
        else:
            for name, value in e.get("values", {}).items():
                if s["values"].get(name) != value:
                    problems.append("registry %s value %s: expected %s, seen %s" % (
                        where, name, json.dumps(value), json.dumps(s["values"].get(name))))
    if len(seen) != len(expected):
        problems.append("the robot reported %d registry keys, %d were asked for" % (len(seen), len(expected)))


# ---- main ---------------------------------------------------------------------

def sha256(path):
    import hashlib
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def shipped_hash(launcher, sums):
    """The launcher's hash, once it is shown to be the one the medium lists."""
    listed = {}
    with open(sums, encoding="utf-8") as f:
        for line in f:
            digest, _, name = line.rstrip("\r\n").partition("  ")
            listed[name.lstrip("*")] = digest.lower()
    if "KorvaneSetup.exe" not in listed:
        sys.exit("runner: %s lists no KorvaneSetup.exe" % sums)
    digest = sha256(launcher)
    if digest != listed["KorvaneSetup.exe"]:
        sys.exit("runner: %s (sha256 %s) is not the launcher of the medium, which %s lists as %s"
                 % (launcher, digest, sums, listed["KorvaneSetup.exe"]))
    print("runner: the launcher under test is the shipped one: sha256 %s, as %s lists it" % (digest, sums))
    return digest


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for opt in ("launcher", "robot", "standin", "work"):
        ap.add_argument("--" + opt, required=True)
    ap.add_argument("--winerun", help="tools/winerun (not needed on Windows)")
    ap.add_argument("--planted", help="the planted DLL (for {\"copy\": \"planted\"})")
    ap.add_argument("--shipped", help="a made medium's SHA256SUMS, which must list the launcher's hash")
    ap.add_argument("--only", help="run only the scenario of this name (file/name)")
    ap.add_argument("--part", help="K/N: run only every N-th scenario, starting with the K-th, so that "
                                   "a long file can run as N tests side by side")
    ap.add_argument("scenarios", nargs="+", help="scenario files")
    args = ap.parse_args()
    args.shipped_hash = shipped_hash(args.launcher, args.shipped) if args.shipped else None
    files = []
    for path in args.scenarios:
        loaded, errors = schema.load(path)
        if errors:
            for e in errors:
                print("runner: %s: %s" % (path, e))
            sys.exit("runner: %s refused: %d problem(s)" % (path, len(errors)))
        files.append(loaded)
    if os.name != "nt" and not os.environ.get("DISPLAY"):
        sys.exit("runner: DISPLAY is not set; the launcher's windows need an X display (start Xvfb, "
                 "or run through tools/with-display)")
    if os.name != "nt" and not args.winerun:
        sys.exit("runner: --winerun is needed under Wine")
    host = hosts.make_host(args.winerun)
    engine = Engine(host, args.launcher, args.work)
    lock = None
    if os.name != "nt":
        import fcntl
        # One run at a time per prefix: scenarios share its registry and %TEMP%.
        lock = open(os.path.join(host.prefix, ".e2e-lock"), "w")
        fcntl.flock(lock, fcntl.LOCK_EX)
    chosen = [(name, sc) for loaded in files for name, sc in loaded
              if not args.only or name == args.only or name.split("/")[-1] == args.only]
    if args.part:
        k, n = (int(x) for x in args.part.split("/"))
        chosen = chosen[k - 1::n]
    results = [run_scenario(name, sc, args, host, engine) for name, sc in chosen]
    restored = restore_machine(args, host)
    ran = [r for r in results if r is not None]
    skipped = len(results) - len(ran)
    print("%d of %d scenarios passed%s" % (sum(ran), len(ran), ", %d skipped on %s" % (skipped, host.name) if skipped else ""))
    if not ran:
        sys.exit("runner: no scenario ran")
    sys.exit(0 if all(ran) and restored else 1)


if __name__ == "__main__":
    main()
