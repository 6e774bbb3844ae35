"""The host layer: everything the end-to-end runner does differently under Wine on
Linux and natively on Windows, in one place.

Under Wine the runner uses the project's prefix (tools/winerun puts `wine` or
`wine64` in front of each program), maps C:\\ paths into the prefix's drive_c,
sets the Windows version through the registry values Wine reads, makes Wine draw
its own window frames (`Managed`) and can switch the ANSI code page through the
locale. On Windows the programs run directly, paths are what they say, and what
only Wine can arrange (a faked Windows version, another code page) is not
available: scenarios that need it are skipped there, with the reason printed.

The robot writes the registry in both cases; the host only adds the lines that
belong to Wine.
"""
import os
import shutil
import subprocess
import sys

NT_KEY = r"Software\Microsoft\Windows NT\CurrentVersion"
WINDOWS_KEY = r"System\CurrentControlSet\Control\Windows"
PRODUCT_OPTIONS_KEY = r"System\CurrentControlSet\Control\ProductOptions"


def pe_machine(path):
    """The machine field of a Windows program: 0x14c (i386) or 0x8664 (x64)."""
    with open(path, "rb") as f:
        head = f.read(4096)
    offset = int.from_bytes(head[0x3C:0x40], "little")
    return int.from_bytes(head[offset + 4:offset + 6], "little")


class WineTransport:
    """Windows programs under Wine, in the project's prefix."""

    def __init__(self, winerun):
        self.winerun = winerun
        # winerun knows which prefix this run uses (a parallel worker has its own).
        found = subprocess.run([winerun, "--prefix"], capture_output=True, text=True)
        self.prefix = found.stdout.strip()
        if found.returncode != 0 or not os.path.exists(os.path.join(self.prefix, "system.reg")):
            sys.exit("runner: no usable Wine prefix: %s" % (found.stderr.strip() or self.prefix))
        users = os.path.join(self.prefix, "drive_c", "users")
        names = [u for u in os.listdir(users) if u != "Public"]
        user = os.environ.get("USER") if os.environ.get("USER") in names else names[0]
        self.temp_win = "C:\\users\\" + user + "\\Temp"
        self.program_files_x86 = "C:\\Program Files (x86)"
        # What the prefix reports unless a scenario fakes another version.
        self.edition = "desktop"

    def command(self, program, *args):
        return [self.winerun, program] + list(args)

    def win(self, path):
        """A path of this machine as the Windows programs see it (the Z: drive)."""
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def local(self, winpath):
        """A Windows path as a path of this machine."""
        if winpath[:2].upper() == "Z:":
            return winpath[2:].replace("\\", "/")
        return os.path.join(self.prefix, "drive_c", winpath[3:].replace("\\", "/"))

    def setup_lines(self):
        """Undo what earlier scenarios set in Wine's own keys, report the prefix's
        own Windows 7 SP1, and let Wine draw its own window frames: without a
        window manager it waits 2 s for every closed window otherwise."""
        lines = [["regdelval", "hkcu", r"Software\Wine", "Version"]]
        for program in ("KorvaneSetup.exe", "extsetup.exe"):
            lines.append(["regdel", "hkcu", "Software\\Wine\\AppDefaults\\" + program])
        lines += version_lines(DEFAULT_VERSION)
        lines.append(["regset", "hkcu", r"Software\Wine\X11 Driver", "Managed", "sz", "N"])
        return lines

    def screenshot(self, path):
        return subprocess.run(["import", "-window", "root", path], check=False).returncode == 0

    def junction(self, link, target):
        # Wine 8 cannot create junctions or NTFS symbolic links (mklink /J fails),
        # but lists a Unix symbolic link as a directory that is a reparse point
        # (attributes 0x410): a link the launcher must never follow.
        try:
            os.symlink(self.local(target), self.local(link))
        except OSError:
            return False
        return True

    def makensis(self):
        return shutil.which("makensis")


class NativeTransport:
    """Windows programs run directly, on Windows."""

    def __init__(self, winerun=None):
        self.temp_win = os.environ.get("TEMP", os.environ.get("TMP", r"C:\Windows\Temp")).rstrip("\\")
        self.program_files_x86 = os.environ.get("ProgramFiles(x86)", os.environ.get("ProgramFiles", r"C:\Program Files"))
        # Hosted Windows runners are server editions, which the launcher refuses.
        self.edition = "desktop" if sys.getwindowsversion().product_type == 1 else "server"

    def command(self, program, *args):
        return [program] + list(args)

    def win(self, path):
        return os.path.abspath(path)

    def local(self, winpath):
        return winpath

    def setup_lines(self):
        return []

    def junction(self, link, target):
        return subprocess.run(["cmd", "/c", "mklink", "/J", link, target], capture_output=True).returncode == 0

    def screenshot(self, path):
        script = ("Add-Type -AssemblyName System.Windows.Forms,System.Drawing;"
                  "$b=[System.Windows.Forms.SystemInformation]::VirtualScreen;"
                  "$i=New-Object System.Drawing.Bitmap $b.Width,$b.Height;"
                  "$g=[System.Drawing.Graphics]::FromImage($i);"
                  "$g.CopyFromScreen($b.Left,$b.Top,0,0,$i.Size);"
                  "$i.Save('%s')" % path.replace("'", "''"))
        return subprocess.run(["powershell", "-NoProfile", "-Command", script], check=False).returncode == 0

    def makensis(self):
        found = shutil.which("makensis")
        if found:
            return found
        for base in (os.environ.get("ProgramFiles(x86)"), os.environ.get("ProgramFiles")):
            candidate = os.path.join(base or "", "NSIS", "makensis.exe")
            if os.path.isfile(candidate):
                return candidate
        return None


DEFAULT_VERSION = {"version": "6.1", "build": "7601", "sp": 1, "csd": "Service Pack 1", "type": "WinNT"}


def version_lines(v):
    """The registry values Wine reads the Windows version from when its Version
    switch is unset."""
    lines = []
    for view in ("32", "64"):
        lines += [["regset", view, NT_KEY, "CurrentVersion", "sz", v["version"]],
                  ["regset", view, NT_KEY, "CurrentBuildNumber", "sz", v["build"]],
                  ["regset", view, NT_KEY, "CSDVersion", "sz", v.get("csd", "")]]
    lines.append(["regset", "64", WINDOWS_KEY, "CSDVersion", "dword", str(v.get("sp", 0) << 8)])
    lines.append(["regset", "64", PRODUCT_OPTIONS_KEY, "ProductType", "sz", v.get("type", "WinNT")])
    return lines


class Host:
    """What the platform can arrange (name: "wine" or "windows"), and how its
    programs are reached (the transport)."""

    def __init__(self, name, transport):
        self.name = name
        self.transport = transport

    def __getattr__(self, attribute):
        return getattr(self.transport, attribute)

    def lacks(self, sc):
        """Why this host cannot run the scenario, or None."""
        hosts = sc.get("hosts")
        if hosts and self.name not in hosts:
            return sc.get("hosts_reason", "it runs only on " + " and ".join(hosts))
        if self.name == "windows":
            if "windows" in sc:
                return "only Wine can report another Windows version (\"windows\")"
            if "locale" in sc:
                return "only Wine can switch the ANSI code page for one run (\"locale\")"
        edition = sc.get("edition", "desktop")
        if edition != self.transport.edition:
            return ("it needs a %s edition of Windows and this host reports a %s edition (the launcher "
                    "refuses server editions by design)" % (edition, self.transport.edition))
        return None

    def registry_lines(self, sc):
        lines = self.transport.setup_lines()
        w = sc.get("windows")
        if isinstance(w, str):
            lines.append(["regset", "hkcu", r"Software\Wine", "Version", "sz", w])
        elif isinstance(w, dict):
            lines += version_lines(dict(DEFAULT_VERSION, **w))
        # Windows itself looks in the program's folder first for DLLs that are not
        # KnownDLLs; Wine has to be told per program and DLL.
        for program, dlls in (sc.get("native_first", {}) if self.name == "wine" else {}).items():
            for dll in dlls:
                lines.append(["regset", "hkcu", "Software\\Wine\\AppDefaults\\" + program + "\\DllOverrides",
                              dll, "sz", "native,builtin"])
        return lines

    def locale_env(self, locale, work):
        """LC_ALL and LANG for a locale (Wine's ANSI code page follows LC_ALL); LOCPATH
        too when the system lacks it and localedef can compile it."""
        env = {"LC_ALL": locale, "LANG": locale}
        have = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
        norm = lambda n: n.lower().replace("-", "")
        if norm(locale) in (norm(n) for n in have):
            return env
        path = os.path.join(os.path.abspath(work), "locales")
        if not os.path.isdir(os.path.join(path, locale)):
            language, _, charset = locale.partition(".")
            os.makedirs(path, exist_ok=True)
            subprocess.run(["localedef", "-i", language, "-f", charset or "UTF-8", os.path.join(path, locale)],
                           capture_output=True, check=False)
        if not os.path.isdir(os.path.join(path, locale)):
            sys.exit("runner: the locale %s is missing and could not be compiled (Debian: locales)" % locale)
        env["LOCPATH"] = path
        return env


def make_host(winerun):
    """Natively on Windows; else under Wine. KORVANE_HOST=windows gives the Windows
    host's rules (no faked versions or code pages, no load-order overrides) over
    Wine, so that its branch is exercised here too."""
    if os.name == "nt":
        return Host("windows", NativeTransport())
    transport = WineTransport(winerun)
    return Host("windows" if os.environ.get("KORVANE_HOST") == "windows" else "wine", transport)
