#!/usr/bin/env python3
"""Reads what a customer's check needs from a medium's files, without trusting them.

    pe.py facts LAUNCHER VERSION SETUP_INI

prints five lines "name|ok|detail" or "name|FAIL|detail":
    kind         is LAUNCHER a 32-bit (i386) Windows GUI program?
    resources    does it carry the launcher's resources, with VERSION ("2,0,0,0")
                 in its version block?
    timestamp    its PE timestamp (detail: seconds since 1970)
    signed       does it carry an Authenticode signature? (detail: yes or no)
    productguid  "ProductGUID" of [Startup] in SETUP_INI, read the way Windows'
                 GetPrivateProfileString reads it

Exit status 0 when every line is ok, 1 otherwise, 2 for misuse. One call for all,
so that Python starts once. Every offset read from a file is bounds-checked: a
damaged or hostile file gives a FAIL, never a crash or a read outside it.
"""
import os
import struct
import sys

RT_BITMAP, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 2, 5, 14, 16, 24
# (type, id, what a person calls it) for every resource the launcher must carry.
EXPECTED = [(RT_DIALOG, 131, "dialog 131"), (RT_DIALOG, 102, "dialog 102"),
            (RT_BITMAP, 137, "bitmap 137"), (RT_GROUP_ICON, 128, "icon group 128"),
            (RT_VERSION, 1, "version block"), (RT_MANIFEST, 1, "manifest")]


class Bad(Exception):
    pass


def u16(data, at):
    if at < 0 or at + 2 > len(data):
        raise Bad("truncated at offset %d" % at)
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    if at < 0 or at + 4 > len(data):
        raise Bad("truncated at offset %d" % at)
    return struct.unpack_from("<I", data, at)[0]


def headers(data):
    if data[:2] != b"MZ":
        raise Bad("no MZ header: not a Windows program")
    pe = u32(data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise Bad("no PE signature: not a Windows program")
    coff = pe + 4
    opt = coff + 20
    info = {"machine": u16(data, coff), "sections": u16(data, coff + 2),
            "timestamp": u32(data, coff + 4), "optsize": u16(data, coff + 16),
            "flags": u16(data, coff + 18), "magic": u16(data, opt)}
    if info["magic"] != 0x10B:
        raise Bad("optional header magic 0x%x, not PE32" % info["magic"])
    info["subsystem"] = u16(data, opt + 68)
    count = u32(data, opt + 92)
    info["dirs"] = [(u32(data, opt + 96 + 8 * i), u32(data, opt + 100 + 8 * i))
                    for i in range(min(count, 16))]
    table = opt + info["optsize"]
    if table + 40 * info["sections"] > len(data):
        raise Bad("the section table is cut short")
    info["sectab"] = [struct.unpack_from("<IIII", data, table + 40 * i + 8)
                      for i in range(info["sections"])]
    return info


def offset_of(info, rva):
    for vsize, vaddr, rawsize, rawptr in info["sectab"]:
        if vaddr <= rva < vaddr + max(vsize, rawsize):
            return rawptr + rva - vaddr
    raise Bad("address 0x%x lies in no section" % rva)


def resource_leaves(data, info):
    """{(type, id): bytes of the first language's data} for numbered resources."""
    if len(info["dirs"]) < 3 or info["dirs"][2][0] == 0:
        raise Bad("no resource directory")
    base = offset_of(info, info["dirs"][2][0])

    visited = [0]

    def entries(at):
        named, numbered = u16(data, at + 12), u16(data, at + 14)
        for i in range(named + numbered):
            # A hostile tree can point every entry at one big directory.
            visited[0] += 1
            if visited[0] > 100000:
                raise Bad("the resource directory is implausibly large")
            yield u32(data, at + 16 + 8 * i), u32(data, at + 20 + 8 * i)

    found = {}
    for type_id, to_names in entries(base):
        if type_id & 0x80000000 or not to_names & 0x80000000:
            continue
        for name_id, to_langs in entries(base + (to_names & 0x7FFFFFFF)):
            if name_id & 0x80000000 or not to_langs & 0x80000000:
                continue
            for _, to_leaf in entries(base + (to_langs & 0x7FFFFFFF)):
                if to_leaf & 0x80000000:
                    break
                leaf = base + to_leaf
                start, size = offset_of(info, u32(data, leaf)), u32(data, leaf + 4)
                if size == 0 or start + size > len(data):
                    raise Bad("resource %d/%d points outside the file" % (type_id, name_id))
                found[(type_id, name_id)] = data[start:start + size]
                break
    return found


def fixed_version(block):
    """"a,b,c,d" of a VS_VERSIONINFO block's FileVersion."""
    key = "VS_VERSION_INFO".encode("utf-16-le")
    if block[6:6 + len(key)] != key:
        raise Bad("the version block does not start with VS_VERSION_INFO")
    at = (6 + len(key) + 2 + 3) & ~3
    if u32(block, at) != 0xFEEF04BD:
        raise Bad("the version block has no fixed file information")
    ms, ls = u32(block, at + 8), u32(block, at + 12)
    return "%d,%d,%d,%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def kind(data):
    info = headers(data)
    problems = []
    if info["machine"] != 0x14C:
        problems.append("machine 0x%x, not i386" % info["machine"])
    if info["subsystem"] != 2:
        problems.append("subsystem %d, not Windows GUI (2)" % info["subsystem"])
    if not info["flags"] & 0x0002 or info["flags"] & 0x2000:
        problems.append("not an executable (characteristics 0x%x)" % info["flags"])
    if any(rawptr + rawsize > len(data) for _, _, rawsize, rawptr in info["sectab"]):
        problems.append("cut short: its sections reach past the end of the file")
    if problems:
        raise Bad("; ".join(problems))
    return "a 32-bit (i386, PE32) Windows GUI program"


def resources(data, version):
    leaves = resource_leaves(data, headers(data))
    missing = [name for rtype, rid, name in EXPECTED if (rtype, rid) not in leaves]
    if missing:
        raise Bad("missing " + ", ".join(missing))
    carried = fixed_version(leaves[(RT_VERSION, 1)])
    if carried != version:
        raise Bad("version block says %s, the launcher is %s" % (carried, version))
    manifest = leaves[(RT_MANIFEST, 1)].lstrip(b"\xef\xbb\xbf \t\r\n")
    if not (manifest.startswith(b"<?xml") or manifest.startswith(b"<assembly")):
        raise Bad("the manifest is not an XML assembly manifest")
    return ", ".join(name for _, _, name in EXPECTED) + " (version " + carried + ")"


def ini_value(data, section, key):
    """First KEY of the first [SECTION], names compared without case, value trimmed
    and one pair of enclosing quotes dropped, as Windows reads it."""
    text = data.decode("latin-1")
    if text.startswith("\xef\xbb\xbf"):
        text = text[3:]
    inside = False
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("["):
            inside = line[1:].split("]", 1)[0].strip().lower() == section.lower()
        elif inside and "=" in line:
            name, value = line.split("=", 1)
            if name.strip().lower() == key.lower():
                value = value.strip()
                if len(value) >= 2 and value[0] == value[-1] and value[0] in "'\"":
                    value = value[1:-1]
                return value
    raise Bad("no %s in [%s]" % (key, section))


def signed(data):
    dirs = headers(data)["dirs"]
    return "yes" if len(dirs) > 4 and dirs[4][1] != 0 else "no"


def read(path):
    try:
        with open(path, "rb") as handle:
            return handle.read()
    except OSError as error:
        raise Bad("cannot read %s: %s" % (os.path.basename(path), error.strerror))


def facts(launcher, version, setup_ini):
    def program():
        return read(launcher)
    found = [("kind", lambda: kind(program())),
             ("resources", lambda: resources(program(), version)),
             ("timestamp", lambda: str(headers(program())["timestamp"])),
             ("signed", lambda: signed(program())),
             ("productguid", lambda: ini_value(read(setup_ini), "Startup", "ProductGUID"))]
    sound = True
    for name, fact in found:
        try:
            print("%s|ok|%s" % (name, fact()))
        except (Bad, struct.error) as error:
            print("%s|FAIL|%s" % (name, error))
            sound = False
    return 0 if sound else 1


def main(argv):
    if len(argv) != 4 or argv[0] != "facts":
        print(__doc__.strip(), file=sys.stderr)
        return 2
    return facts(argv[1], argv[2], argv[3])


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
