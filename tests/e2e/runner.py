#!/usr/bin/env python3
"""End-to-end runner: one scenario = one real launcher run under Wine.

    runner.py --launcher EXE --robot EXE --standin EXE --winerun SCRIPT
              --work DIR scenario.json [scenario.json ...]

A scenario file holds one scenario, or several as {"scenarios": [{"name": ..}, ..]}.
Everything in a scenario is optional; the defaults give a medium with no
installed copy, and the user pressing "Install" in the confirmation.

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
  "maintenance": {"omit": [...], "files": {...}, "dirs": [...]}
              the maintenance directory (default: setup.exe and extsetup.exe stand-ins)
  "staging_before": {"files": {...}}   a staging directory left from an earlier run
  "registry": [{"view": "32"|"64"|"hkcu", "key": K, "values": {name: VALUE}},
               {"view": .., "key": K, "delete": true}]
              VALUE: text (REG_SZ) | {"type": "dword"|"sz"|"expand_sz"|"binary", "data": ..}
                     | {"type": "sz", "hex": "4142"} (exact bytes, no terminator added)
  "windows":  "vista" | "win7" | ... (Wine's Version setting), or
              {"version": "6.0", "build": "6001", "sp": 1, "csd": "Service Pack 1",
               "type": "WinNT"} (what the registry says; Version left unset)
  "env":      {"TEMP": "{work}\\tmp", ...}   for the launcher (and its children)
  "cwd":      the launcher's current directory (default {work}, not the medium)
  "locale":   e.g. "ja_JP.UTF-8": LC_ALL and LANG for the run (ANSI code page 932;
              LANG alone does not change Wine's code page here). Wine's own texts,
              such as the message-box buttons, then come in that language. A locale
              the system lacks is compiled with localedef into the work folder
              (LOCPATH): without it Wine cannot map non-ASCII file names.
  "plan":     {"<substring of module path>": ms}  how long stand-ins stay alive
  "confirm":  true (default): expect the confirmation dialog first and press
              "Install"; "cancel": the same, pressing "Cancel"; false: none implied
  "answers":  list, one per window in order: "Yes" (press by text), "#7" (by id),
              "wait" (closes by itself), "escape", "enter", "close", "altf4", or
              {"press": "Yes", "delay": ms, "hold": ms, "shot": "file.png"}
  "timeout_ms": hard limit for the launcher (default 60000)
  "expect": {
     "windows": [{"caption", "text", "richedit", "statics", "buttons": [texts],
                  "default": text, "icon": false|true|"error"|"warning"|"information",
                  "sysmenu", "progress": {"min", "max", "first", "last", "highest"}}]
              only the keys given are compared; a number may be {">=": n, "<=": m}
     "started": [{"module", "cmdline", "cwd", "files": [names]}],   stand-in starts in order
     "sequential": true (default): each start comes after the earlier programs ended
     "staging": "absent" (default) | [file names] | null (not checked)
     "medium_absent": [glob patterns]   no file of the medium may match them
     "medium_present": [glob patterns]  each matches a file of the medium
     "second_launcher": {"ended": true, "windows": 0, "exit_ms": {"<=": n}}
     "exit_within_ms": 30000 (default)
  }
CONTENT: text | {"hex": ".."} | {"text": "..", "encoding": "cp932"}
         | {"copy": "standin"|"launcher"|"planted"}
         | {"text": "..", "repeat": "..", "times": n}   the text, then the repeat n times
Placeholders in texts: {medium} {work} {cwd} {temp} {staging} {maint} {guid},
and {syserr:N}, the system's message text for error code N.
"""
import argparse
import fcntl
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import time

GUID = "3F1B7C2A-9D4E-4B6A-8C21-5E0D7A9B4C13"
STAGING = "{7A2C5E91-4B0D-4f3a-8E6B-21C9D04F7A58}"
UNINSTALL = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"
PRODUCT_KEY = UNINSTALL + "\\{" + GUID + "}"
DRIVER_KEY = UNINSTALL + "\\Rainbow Sentinel Driver"
NT_KEY = r"Software\Microsoft\Windows NT\CurrentVersion"
MAINT_WIN = r"C:\Program Files (x86)\InstallShield Installation Information" + "\\{" + GUID + "}"
DEFAULT_UNINSTALL = '"{maint}\\setup.exe" -runfromtemp -l0x0409 -removeonly'
SETUP_INI = "[Startup]\r\nProductGUID=" + GUID + "\r\nProduct=Korvane\r\n"
CONFIRM_WINDOW = {
    "caption": "Installation Confirmation",
    "richedit": "Korvane v.2.0 is about to be installed. Your computer may restart during "
                "installation. Please save any unsaved files before continuing. Click "
                "'Install' to begin installation or 'Cancel' to exit.",
    "buttons": ["Install", "Cancel"], "default": "Install", "icon": False, "sysmenu": False,
}
KEYWORDS = ("wait", "escape", "enter", "close", "altf4")


def win(path):
    """Unix path as Wine sees it through its Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Prefix:
    def __init__(self, winerun):
        here = os.path.dirname(os.path.abspath(winerun))
        self.path = os.environ.get("KORVANE_WINEPREFIX") or os.path.join(here, "..", "build", "wineprefix")
        self.winerun = winerun
        if not os.path.exists(os.path.join(self.path, "system.reg")):
            subprocess.run([winerun, "cmd", "/c", "exit"], check=False)  # creates the prefix
        users = os.path.join(self.path, "drive_c", "users")
        names = [u for u in os.listdir(users) if u != "Public"]
        user = os.environ.get("USER") if os.environ.get("USER") in names else names[0]
        self.temp_unix = os.path.join(users, user, "Temp")
        self.temp_win = "C:\\users\\" + user + "\\Temp"
        self.maint_unix = os.path.join(self.path, "drive_c", MAINT_WIN[3:].replace("\\", "/"))


def write_content(path, content, exes):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if isinstance(content, dict) and "copy" in content:
        shutil.copyfile(exes[content["copy"]], path)
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


def esc(field):
    return str(field).replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def registry_lines(sc, expand):
    lines = [["regdel", v, k] for v in ("32", "64") for k in (PRODUCT_KEY, DRIVER_KEY)]
    lines.append(["regdelval", "hkcu", r"Software\Wine", "Version"])
    # Per-program DLL load orders that a scenario may set.
    for program in ("KorvaneSetup.exe", "extsetup.exe"):
        lines.append(["regdel", "hkcu", "Software\\Wine\\AppDefaults\\" + program])
    # Wine reads the version from here when Version is unset; put back the prefix's own.
    for v in ("32", "64"):
        lines += [["regset", v, NT_KEY, "CurrentVersion", "sz", "6.1"],
                  ["regset", v, NT_KEY, "CurrentBuildNumber", "sz", "7601"],
                  ["regset", v, NT_KEY, "CSDVersion", "sz", "Service Pack 1"]]
    lines.append(["regset", "64", r"System\CurrentControlSet\Control\Windows", "CSDVersion", "dword", "256"])
    lines.append(["regset", "64", r"System\CurrentControlSet\Control\ProductOptions", "ProductType", "sz", "WinNT"])
    # Without a window manager, Wine waits 2 s for every closed window unless it
    # draws the windows itself.
    lines.append(["regset", "hkcu", r"Software\Wine\X11 Driver", "Managed", "sz", "N"])

    w = sc.get("windows")
    if isinstance(w, str):
        lines.append(["regset", "hkcu", r"Software\Wine", "Version", "sz", w])
    elif isinstance(w, dict):
        for v in ("32", "64"):
            lines += [["regset", v, NT_KEY, "CurrentVersion", "sz", w["version"]],
                      ["regset", v, NT_KEY, "CurrentBuildNumber", "sz", w["build"]],
                      ["regset", v, NT_KEY, "CSDVersion", "sz", w.get("csd", "")]]
        lines.append(["regset", "64", r"System\CurrentControlSet\Control\Windows", "CSDVersion", "dword",
                      str(w.get("sp", 0) << 8)])
        lines.append(["regset", "64", r"System\CurrentControlSet\Control\ProductOptions", "ProductType", "sz",
                      w.get("type", "WinNT")])

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
    return ["answer", action, a.get("press", ""), a.get("delay", 0), hold, marker if hold else ""]


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
    n = max(len(expected), len(seen))
    for i in range(n):
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


def load(path):
    """The scenarios of one file: the file is one scenario, or holds a list of
    them under "scenarios", each with a "name"."""
    data = json.load(open(path, encoding="utf-8"))
    stem = os.path.splitext(os.path.basename(path))[0]
    if "scenarios" not in data:
        return [(stem, data)]
    return [(stem + "/" + sc["name"], sc) for sc in data["scenarios"]]


def locale_env(locale, work):
    """LC_ALL and LANG for a locale; LOCPATH too when the system lacks it and
    localedef can compile it from the system's locale sources."""
    env = {"LC_ALL": locale, "LANG": locale}
    have = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
    norm = lambda n: n.lower().replace("-", "").replace("utf8", "utf8")
    if norm(locale) in (norm(n) for n in have):
        return env
    path = os.path.join(os.path.abspath(work), "locales")
    if not os.path.isdir(os.path.join(path, locale)):
        language, _, charset = locale.partition(".")
        os.makedirs(path, exist_ok=True)
        subprocess.run(["localedef", "-i", language, "-f", charset or "UTF-8", os.path.join(path, locale)],
                       capture_output=True, check=False)
    if os.path.isdir(os.path.join(path, locale)):
        env["LOCPATH"] = path
    return env


def long_path(base, length, letter):
    """A folder under base whose Windows path has exactly length characters,
    made of nested names of at most 100 characters."""
    path = os.path.join(base, letter)
    while len(win(path)) < length:
        room = length - len(win(path))
        path = path + letter if room == 1 else os.path.join(path, letter * min(100, room - 1))
    if len(win(path)) != length:
        sys.exit("runner: cannot make a path of %d characters under %s" % (length, base))
    return path


def run_scenario(name, sc, args, prefix):
    work = os.path.join(os.path.abspath(args.work), name)
    remove(work)
    medium = os.path.join(work, sc.get("medium_name", "medium"))
    if "medium_length" in sc:
        medium = long_path(work, sc["medium_length"], "m")
    os.makedirs(medium)
    exes = {"launcher": args.launcher, "standin": args.standin, "planted": args.planted}
    maint_win = sc.get("maint_dir", MAINT_WIN)
    maint_unix = os.path.join(prefix.path, "drive_c", maint_win[3:].replace("\\", "/"))
    places = {"medium": win(medium), "work": win(work), "maint": maint_win, "guid": GUID}
    syserr = {}

    def expand(text):
        return re.sub(r"\{(\w+)(?::(\d+))?\}", lambda m: syserr.get(int(m.group(2)), m.group(0)) if m.group(2)
                      else places.get(m.group(1), m.group(0)), text)

    def expand_tree(x):
        if isinstance(x, str):
            return expand(x)
        if isinstance(x, list):
            return [expand_tree(v) for v in x]
        if isinstance(x, dict):
            return {k: expand_tree(v) for k, v in x.items()}
        return x

    def unix(winpath):
        if winpath[:2].upper() == "Z:":
            return winpath[2:].replace("\\", "/")
        return os.path.join(prefix.path, "drive_c", winpath[3:].replace("\\", "/"))

    env = {k: expand(v) for k, v in sc.get("env", {}).items()}
    if "temp_length" in sc:
        env["TEMP"] = env["TMP"] = win(long_path(work, sc["temp_length"], "t"))
    temp_win = env.get("TEMP", prefix.temp_win).rstrip("\\")
    places.update(temp=temp_win, staging=temp_win + "\\" + STAGING)
    places["cwd"] = expand(sc.get("cwd", "{work}"))

    launcher_name = sc.get("launcher_name", "KorvaneSetup.exe")
    defaults = {launcher_name: {"copy": "launcher"}, "setup.ini": SETUP_INI,
                "extsetup.exe": {"copy": "standin"}, "v1uninst100.iss": "[InstallShield Silent]\r\nVersion=v7.00\r\n"}
    lay_out(medium, defaults, sc.get("medium", {}), exes, expand)
    remove(prefix.maint_unix)
    remove(maint_unix)
    remove(os.path.join(prefix.temp_unix, STAGING))
    staging_unix = unix(places["staging"])
    remove(staging_unix)
    os.makedirs(unix(temp_win), exist_ok=True)
    os.makedirs(unix(places["cwd"]), exist_ok=True)
    if "installed" in sc or "maintenance" in sc:
        lay_out(maint_unix, {"setup.exe": {"copy": "standin"}, "extsetup.exe": {"copy": "standin"}},
                sc.get("maintenance", {}), exes, expand)
    if "staging_before" in sc:
        lay_out(staging_unix, {}, sc["staging_before"], exes, expand)

    log, plan, stop = (os.path.join(work, n) for n in ("standin.log", "plan.txt", "stop"))
    with open(plan, "w") as f:
        for text, ms in sc.get("plan", {}).items():
            f.write("%s %d\n" % (expand(text), ms))

    answers = list(sc.get("answers", []))
    expected = dict(sc.get("expect", {}))
    exp_windows = list(expected.get("windows", []))
    confirm = sc.get("confirm", True)
    if confirm:
        answers.insert(0, "Cancel" if confirm == "cancel" else "Install")
        exp_windows.insert(0, CONFIRM_WINDOW)
    codes = set(int(c) for c in re.findall(r"\{syserr:(\d+)\}", json.dumps(expected)))

    lines = registry_lines(sc, expand)
    lines += [["exe", win(os.path.join(medium, launcher_name))], ["cwd", places["cwd"]],
              ["out", win(os.path.join(work, "transcript.json"))], ["timeout", sc.get("timeout_ms", 60000)],
              ["env", "KORVANE_STANDIN_LOG", win(log)], ["env", "KORVANE_STANDIN_PLAN", win(plan)],
              ["env", "KORVANE_STANDIN_STOP", win(stop)]]
    lines += [["env", k, v] for k, v in env.items()]
    lines += [["systext", c] for c in sorted(codes)]
    if "second_launcher" in sc:
        lines.append(["second", sc["second_launcher"]])
    shots = {}
    for i, a in enumerate(answers):
        marker = os.path.join(work, "hold%d" % i)
        lines.append(answer_line(a, win(marker)))
        if isinstance(a, dict) and "shot" in a:
            shots[marker] = a["shot"]
    script = os.path.join(work, "script.txt")
    with open(script, "w", encoding="utf-8") as f:
        f.writelines("\t".join(esc(x) for x in line) + "\n" for line in lines)

    started_at = time.monotonic()
    run_env = dict(os.environ)
    if "locale" in sc:
        run_env.update(locale_env(sc["locale"], args.work))
    # Output goes to a file, not a pipe: programs started during the run (the
    # stand-ins, wineserver) inherit it and may outlive the robot.
    robot_log = open(os.path.join(work, "robot.out"), "w+b")
    robot = subprocess.Popen([args.winerun, args.robot, win(script)], env=run_env,
                             stdout=robot_log, stderr=subprocess.STDOUT)
    limit = started_at + sc.get("timeout_ms", 60000) / 1000 + 60
    while robot.poll() is None and time.monotonic() < limit:
        for marker, shot in list(shots.items()):
            if os.path.exists(marker):
                subprocess.run(["import", "-window", "root", shot], check=False)
                os.remove(marker)
                del shots[marker]
        time.sleep(0.05)
    problems = []
    if robot.poll() is None:
        robot.kill()
        problems.append("the robot did not end; killed")
    robot.wait()
    robot_log.seek(0)
    robot_out = robot_log.read().decode("utf-8", "replace")
    robot_log.close()
    # End stand-ins that are still running, and wait for their records: a program
    # that the launcher started just before it ended may not have written yet.
    open(stop, "w").close()
    want = len(expected.get("started", []))
    records, text, changed = [], None, time.monotonic()
    deadline = changed + 10
    while time.monotonic() < deadline:
        now_text = open(log, encoding="utf-8").read() if os.path.exists(log) else ""
        if now_text != text:
            text, changed = now_text, time.monotonic()
            records = [json.loads(line) for line in text.splitlines()]
        starts_n = sum(r["event"] == "start" for r in records)
        if starts_n >= want and starts_n == len(records) - starts_n and time.monotonic() - changed >= 0.5:
            break
        time.sleep(0.05)
    elapsed = time.monotonic() - started_at

    try:
        t = json.load(open(os.path.join(work, "transcript.json"), encoding="utf-8"))
    except (OSError, ValueError):
        print("FAIL %s: no transcript; robot said:\n%s" % (name, robot_out))
        return False
    syserr.update({int(k): v for k, v in t["system_texts"].items()})
    expected = expand_tree(expected)
    exp_windows = expand_tree(exp_windows)

    problems += ["registry preparation: " + e for e in t["setup_errors"]]
    if not t["launched"]:
        problems.append("the launcher could not be started (error %d)" % t["launch_error"])
    if t["timed_out"]:
        problems.append("the launcher did not end within %d ms and was killed" % sc.get("timeout_ms", 60000))
    elif t["exit_ms"] is not None and t["exit_ms"] > expected.get("exit_within_ms", 30000):
        problems.append("the launcher ended after %d ms, later than %d ms" % (t["exit_ms"], expected.get("exit_within_ms", 30000)))
    compare_windows(exp_windows, t["windows"], problems)
    starts = [r for r in records if r["event"] == "start"]
    if "started" in expected:
        compare_started(expected["started"], starts, problems)
    if expected.get("sequential", True):
        exits = {r["pid"]: r for r in records if r["event"] == "exit"}
        for i, s in enumerate(starts):
            for p in starts[:i]:
                if p["pid"] in exits and exits[p["pid"]]["tick"] > s["tick"]:
                    problems.append("%s started while %s was still running" % (s["module"], p["module"]))
    staging = expected.get("staging", "absent")
    if staging is not None:
        left = sorted(os.listdir(staging_unix)) if os.path.isdir(staging_unix) else None
        if staging == "absent" and left is not None:
            problems.append("staging directory left behind with %s" % left)
        elif staging != "absent" and left != sorted(staging):
            problems.append("staging directory: expected %s, found %s" % (sorted(staging), left))

    for pattern in expected.get("medium_absent", []):
        found = sorted(os.path.relpath(p, medium) for p in glob.glob(os.path.join(medium, pattern)))
        if found:
            problems.append("found in the medium: %s" % found)
    for pattern in expected.get("medium_present", []):
        if not glob.glob(os.path.join(medium, pattern)):
            problems.append("not found in the medium: %s" % pattern)
    if "second_launcher" in expected:
        second = t.get("second")
        if second is None:
            problems.append("the second launcher was not started")
        else:
            for k, v in expected["second_launcher"].items():
                if not matches(v, second.get(k)):
                    problems.append("second launcher %s: expected %s, seen %s" % (k, json.dumps(v), json.dumps(second.get(k))))

    if problems:
        print("FAIL %s (%.1f s)" % (name, elapsed))
        for p in problems:
            print("  - " + p)
        print("  windows seen:")
        for w in t["windows"]:
            print("    %5s ms  %s" % (w["shown_ms"], json.dumps(window_view(w, ["caption", "text", "richedit", "buttons", "default", "icon"]), ensure_ascii=False)))
            print("             answered: %s; gone at %s ms" % (w["answer"], w["gone_ms"]))
        print("  started:")
        for r in starts:
            print("    %s  cmdline %s  cwd %s" % (r["module"], json.dumps(r["cmdline"], ensure_ascii=False), r["cwd"]))
        print("  launcher ended at %s ms; work directory %s" % (t["exit_ms"], work))
        return False
    print("PASS %s (%.1f s, launcher ended at %s ms)" % (name, elapsed, t["exit_ms"]))
    return True


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for opt in ("launcher", "robot", "standin", "winerun", "work"):
        ap.add_argument("--" + opt, required=True)
    ap.add_argument("--planted", help="the planted DLL (for {\"copy\": \"planted\"})")
    ap.add_argument("--only", help="run only the scenario of this name (file/name)")
    ap.add_argument("scenarios", nargs="+", help="scenario files")
    args = ap.parse_args()
    if not os.environ.get("DISPLAY"):
        sys.exit("runner: DISPLAY is not set; the launcher's windows need an X display (start Xvfb, "
                 "or run through tests/e2e/with-display)")
    prefix = Prefix(args.winerun)
    # One run at a time per prefix: scenarios share its registry and %TEMP%.
    lock = open(os.path.join(prefix.path, ".e2e-lock"), "w")
    fcntl.flock(lock, fcntl.LOCK_EX)
    ok = [run_scenario(name, sc, args, prefix) for path in args.scenarios for name, sc in load(path)
          if not args.only or name == args.only or name.split("/")[-1] == args.only]
    print("%d of %d scenarios passed" % (sum(ok), len(ok)))
    sys.exit(0 if ok and all(ok) else 1)


if __name__ == "__main__":
    main()
