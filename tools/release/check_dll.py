#!/usr/bin/env python3
"""Checks that a plug-in library is what the host can load: a 32-bit PE
(i386) dynamic library exporting the fourteen BKC_ callbacks under their
plain names (no @N decoration), and importing nothing but Windows system
libraries, so that the one file is the whole installation.

Usage: check_dll.py [--objdump PROGRAM] Quillmere.dll
Exits 0 when the library passes, 1 with one line per problem otherwise.
"""
import re
import shutil
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
}


def problems(dump):
    found = []
    if not re.search(r"file format pei-i386", dump):
        found.append("not a 32-bit (i386) PE file")
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


def main(argv):
    objdump = shutil.which("i686-w64-mingw32-objdump") or "objdump"
    args = argv[1:]
    if len(args) >= 2 and args[0] == "--objdump":
        objdump, args = args[1], args[2:]
    if len(args) != 1:
        sys.stderr.write(__doc__)
        return 2
    dump = subprocess.run([objdump, "-p", args[0]], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, check=False).stdout.decode("latin-1")
    found, exports, imports = problems(dump)
    for p in found:
        print("%s: %s" % (args[0], p))
    if not found:
        print("%s: 32-bit PE library, %d BKC_ exports, imports %s" % (
            args[0], sum(1 for e in exports if e.startswith("BKC_")), ", ".join(imports)))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
