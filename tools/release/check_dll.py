#!/usr/bin/env python3
"""Checks that a plug-in library is what the host can load: a PE dynamic
library for the expected machine (i386 for the shipped plug-in, x86-64 for the
build that runs the Windows suite where 32-bit programs cannot run), exporting
the fourteen BKC_ callbacks under their plain names (no @N decoration),
importing nothing but Windows system libraries, so that the one file is the
whole installation, and carrying the resources its windows are made from: the
options and progress dialog templates, the animation clip, the icon and the
string table. With --shipped (the release package's library) it must also
hold no trace of what only a test build obeys: the environment variable that
lowers the saved-session verifier's rounds. Nothing in the library is run.

Usage: check_dll.py [--objdump PROGRAM] [--machine i386|x86-64] [--shipped] Quillmere.dll
Exits 0 when the library passes, 1 with one line per problem otherwise.
"""
import re
import shutil
import struct
import subprocess
import sys

CALLBACKS = [
    "BKC_OnStart", "BKC_OnExit", "BKC_OnMenuInit", "BKC_OnPlugInSetup", "BKC_OnPlugInInfo",
    "BKC_OnOpenFolder", "BKC_OnOpenMail", "BKC_OnSend", "BKC_OnFinishRetrieve",
    "BKC_OnEveryMinute", "BKC_OnOpenCompose", "BKC_OnOutgoing", "BKC_OnRetrieve",
    "BKC_OnKeyDispatch",
]

# Libraries every Windows installation has.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "ws2_32.dll", "wsock32.dll",
    "advapi32.dll", "shell32.dll", "ole32.dll", "oleaut32.dll", "comdlg32.dll",
    "msvcrt.dll", "ntdll.dll", "version.dll", "shlwapi.dll", "winmm.dll", "msvfw32.dll",
    "secur32.dll", "crypt32.dll",
}

# Names that only a build made for the tests may contain.
TEST_ONLY_NAMES = [b"QUILLMERE_VERIFIER_ROUNDS"]

MACHINES = {"i386": ("pei-i386", "32-bit"), "x86-64": ("pei-x86-64", "64-bit")}

# Resources the windows are built from (src/ui/win32/resource.h): type, name.
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON = 3, 5, 6, 14
REQUIRED_RESOURCES = [
    (RT_DIALOG, 131, "options dialog template 131"),
    (RT_DIALOG, 3003, "progress dialog template 3003"),
    ("AVI", 3007, "animation clip 3007"),
    (RT_GROUP_ICON, 3008, "icon 3008"),
    (RT_STRING, 101 // 16 + 1, "string table block of string 101"),
]


def problems(dump, machine="i386"):
    found = []
    fmt, bits = MACHINES[machine]
    if not re.search(r"file format %s\b" % re.escape(fmt), dump):
        found.append("not a %s (%s) PE file" % (bits, machine))
    m = re.search(r"^Characteristics 0x([0-9a-fA-F]+)", dump, re.M)
    if not m or not int(m.group(1), 16) & 0x2000:  # IMAGE_FILE_DLL
        found.append("not a dynamic library")
    # Export names: lines like "\t[   0] +base[   1]  0000 BKC_OnExit" in the
    # name pointer table.
    exports = set(re.findall(r"^\s*\[\s*\d+\]\s+(?:\+base\[\s*\d+\]\s+[0-9a-fA-F]+\s+)?(\S+)\s*$",
                             dump.split("[Ordinal/Name Pointer] Table", 1)[-1]
                             if "[Ordinal/Name Pointer] Table" in dump else "", re.M))
    for name in CALLBACKS:
        if name not in exports:
            found.append("export %s missing" % name)
    for name in sorted(exports):
        if name.startswith("BKC_") and "@" in name:
            found.append("decorated export %s" % name)
    imports = [d.lower() for d in re.findall(r"^\s*DLL Name:\s*(\S+)", dump, re.M)]
    if not imports:
        found.append("no import table found")
    for dll in imports:
        if dll not in SYSTEM_DLLS and not dll.startswith("api-ms-win-"):
            found.append("depends on %s, which is not a Windows system library" % dll)
    return found, exports, imports


def resources(image):
    """The (type, name) pairs of the PE image's resource directory, each with
    its data size; types and names are numbers or upper-case strings."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rva, _ = struct.unpack_from("<II", image, directories + 2 * 8)
    if rva == 0:
        return {}
    table = optional + optional_size
    base = None
    for i in range(sections):
        vsize, vaddr, _, raw = struct.unpack_from("<IIII", image, table + 40 * i + 8)
        if vaddr <= rva < vaddr + vsize:
            base = raw + (rva - vaddr)
            delta = vaddr - raw
    if base is None:
        raise ValueError("resource directory outside every section")

    def entries(offset):
        named, numbered = struct.unpack_from("<HH", image, base + offset + 12)
        for i in range(named + numbered):
            ident, target = struct.unpack_from("<II", image, base + offset + 16 + 8 * i)
            if ident & 0x80000000:
                at = base + (ident & 0x7FFFFFFF)
                length = struct.unpack_from("<H", image, at)[0]
                ident = image[at + 2:at + 2 + 2 * length].decode("utf-16-le").upper()
            yield ident, target

    found = {}
    for rtype, to_names in entries(0):
        for name, to_langs in entries(to_names & 0x7FFFFFFF):
            for _, to_data in entries(to_langs & 0x7FFFFFFF):
                data_rva, size = struct.unpack_from("<II", image, base + to_data)
                found[(rtype, name)] = (data_rva - delta, size)
    return found


def resource_problems(image):
    try:
        found = resources(image)
    except (ValueError, struct.error, UnicodeDecodeError) as e:
        return ["resources unreadable: %s" % e]
    missing = []
    for rtype, name, what in REQUIRED_RESOURCES:
        if found.get((rtype, name), (0, 0))[1] == 0:
            missing.append("resource missing: %s" % what)
    clip = found.get(("AVI", 3007))
    if clip and image[clip[0]:clip[0] + 4] != b"RIFF":
        missing.append("animation clip 3007 is not a RIFF file")
    if not any(t == RT_ICON for t, _ in found):
        missing.append("resource missing: icon images")
    return missing


def main(argv):
    objdump = shutil.which("i686-w64-mingw32-objdump") or "objdump"
    machine = "i386"
    shipped = False
    args = argv[1:]
    while args and args[0] in ("--objdump", "--machine", "--shipped"):
        if args[0] == "--shipped":
            shipped = True
            args = args[1:]
            continue
        if len(args) < 2:
            break
        if args[0] == "--objdump":
            objdump = args[1]
        else:
            machine = args[1]
        args = args[2:]
    if len(args) != 1 or machine not in MACHINES:
        sys.stderr.write(__doc__)
        return 2
    dump = subprocess.run([objdump, "-p", args[0]], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, check=False).stdout.decode("latin-1")
    found, exports, imports = problems(dump, machine)
    with open(args[0], "rb") as f:
        image = f.read()
    found += resource_problems(image)
    if shipped:
        for name in TEST_ONLY_NAMES:
            # As the compiler stores a string: 8-bit, or UTF-16 for wide literals.
            if name in image or name.decode().encode("utf-16-le") in image:
                found.append("contains %s, which only a test build may obey" % name.decode())
    for p in found:
        print("%s: %s" % (args[0], p))
    if not found:
        print("%s: %s PE library, %d BKC_ exports, imports %s; dialogs, clip, icon and strings present" % (
            args[0], MACHINES[machine][1], sum(1 for e in exports if e.startswith("BKC_")),
            ", ".join(imports)))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
