#!/usr/bin/env python3
"""The medium checker's reader of untrusted files (tools/medium/pe.py).

    check-pe.py LAUNCHER.exe

A launcher and damaged copies of it: the facts of the sound one; every cut and
every scrambled header gives a FAIL line, never an uncaught error. setup.ini
values are read as Windows reads them.
"""
import os
import random
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "medium"))
import pe  # noqa: E402

failures = []


def expect(what, got, wanted):
    if got != wanted:
        failures.append("%s: got %r, wanted %r" % (what, got, wanted))


def facts(data, version="2,0,0,0"):
    """What pe.launcher reports, as {name: (status, detail)}; an uncaught error
    inside it is a failure of this test."""
    found = {}
    for name, fact in [("kind", lambda: pe.kind(data)),
                       ("resources", lambda: pe.resources(data, version)),
                       ("timestamp", lambda: pe.headers(data)["timestamp"]),
                       ("signed", lambda: pe.signed(data))]:
        try:
            found[name] = ("ok", fact())
        except (pe.Bad, struct.error) as error:
            found[name] = ("FAIL", str(error))
    return found


with open(sys.argv[1], "rb") as handle:
    sound = handle.read()
good = facts(sound)
expect("sound launcher", [status for status, _ in good.values()], ["ok"] * 4)
expect("unsigned", good["signed"][1], "no")
expect("other version", facts(sound, "2,0,0,1")["resources"][0], "FAIL")

# Cut short anywhere in the headers and the resources, and scrambled in the
# first pages where every header lives.
random.seed(11)
cuts = list(range(0, 4096, 7)) + random.sample(range(4096, len(sound)), 300)
for cut in cuts:
    try:
        found = facts(sound[:cut])
    except Exception as error:  # noqa: BLE001 - any escape is the fault looked for
        failures.append("cut at %d: %s: %s" % (cut, type(error).__name__, error))
        continue
    if found["kind"][0] != "FAIL":
        failures.append("cut at %d: a program cut short, yet kind is %r" % (cut, found["kind"]))
for round_ in range(1500):
    damaged = bytearray(sound)
    for _ in range(random.randrange(1, 12)):
        damaged[random.randrange(4096)] = random.randrange(256)
    try:
        facts(bytes(damaged))
    except Exception as error:  # noqa: BLE001
        failures.append("scramble %d: %s: %s" % (round_, type(error).__name__, error))

# A resource directory whose entries all point at itself must end, not spin.
# The resource table's place comes from the sound file.
info = pe.headers(sound)
base = pe.offset_of(info, info["dirs"][2][0])
looping = bytearray(sound)
struct.pack_into("<HH", looping, base + 12, 0, 0xFFFF)
for i in range(0xFFFF):
    at = base + 16 + 8 * i
    if at + 8 > len(looping):
        break
    struct.pack_into("<II", looping, at, 5, 0x80000000)
expect("self-pointing resources", facts(bytes(looping))["resources"][0], "FAIL")

# setup.ini as Windows reads it: names without case, values trimmed and unquoted,
# the first [Startup] only, a UTF-8 BOM ignored.
ini_cases = [
    (b"[Startup]\r\nProductGUID=ABC\r\n", "ABC"),
    (b"\xef\xbb\xbf[Startup]\nProductGUID=ABC\n", "ABC"),
    (b"[startup]\nproductguid = \"ABC\" \n", "ABC"),
    (b"[Other]\nProductGUID=XYZ\n[Startup]\nProductGUID=ABC\nProductGUID=DEF\n", "ABC"),
    (b"[Startup]\nProduct=Korvane\n", None),
    (b"ProductGUID=ABC\n", None),
    (b"[Startup]\nProductGUID=\xff\xfe\n", "\xff\xfe"),
]
for text, wanted in ini_cases:
    try:
        got = pe.ini_value(text, "Startup", "ProductGUID")
    except pe.Bad:
        got = None
    expect("ini %r" % text, got, wanted)

for failure in failures[:20]:
    print("FAIL", failure)
print("pe: %d cuts, 1500 scrambles, %d INI cases; %d failures"
      % (len(cuts), len(ini_cases), len(failures)))
sys.exit(1 if failures else 0)
