#!/usr/bin/env python3
"""Runs the Windows owner-only file test under wine with its files kept in a
fresh Unix folder (reached through wine's Z: drive), then checks how the Unix
side sees each of them: read and write for the owner, nothing for others, and
nothing else left in the folder.

The group bits are wine's, not ours: wine's server turns an allow entry for a
SID of the calling user's token into the same user and group bits (and no
access list can say "the user but not the group"), so an owner-only file is
0660 less the umask, 0640 with the usual 022. The Unix group sees the group
bits; Windows programs under wine see only the owner's entry and SYSTEM's.

Usage: owner_only_mode.py PROGRAM   (QUILL_EMULATOR: the command that runs it)
"""
import os
import shlex
import stat
import subprocess
import sys
import tempfile

EXPECTED = ["cookie.dat", "diagnostic.log", "leftover.dat", "older-settings.ini", "older.log",
            "settings.ini"]


def main():
    program = sys.argv[1]
    emulator = shlex.split(os.environ.get("QUILL_EMULATOR", ""))
    with tempfile.TemporaryDirectory() as folder:
        env = dict(os.environ, QUILL_OWNER_ONLY_FOLDER="Z:" + folder.replace("/", "\\"))
        run = subprocess.run(emulator + [program, "--gtest_filter=OwnerOnlyFiles.*"],
                             env=env, stdin=subprocess.DEVNULL, timeout=100)
        if run.returncode != 0:
            print("the Windows test failed")
            return 1
        names = sorted(os.listdir(folder))
        if names != EXPECTED:
            print("files left:", names)
            return 1
        faults = 0
        for name in names:
            mode = stat.S_IMODE(os.stat(os.path.join(folder, name)).st_mode)
            print("%s: %04o" % (name, mode))
            faults += (mode & 0o707) != 0o600 or (mode & 0o070) & ~((mode & 0o700) >> 3)
        return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
