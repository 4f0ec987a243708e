#!/usr/bin/env python3
"""usage: cmake/write-zip.py OUT.zip TIME FOLDER NAME...
Zips the files NAME... (paths inside FOLDER, kept as the entries' names) into
OUT.zip so that the same files always give the same bytes: the entries in the
order given, each dated TIME (seconds since 1970, UTC; 1980 at the earliest,
as zip dates go), with the permissions rw-r--r-- and no extra fields (no
access or change times, no owner). The release package's zip
(make-package.cmake)."""
import os
import re
import sys
import time
import zipfile

Name = "write-zip"
Zip_Epoch = (1980, 1, 1, 0, 0, 0)
Unix_System = 3
File_Mode = 0o100644


def fail(text, status):
    sys.stderr.write("%s: %s%s\n" % (Name, text, " (see --help)" if status == 2 else ""))
    sys.exit(status)


def version():
    """From project() in CMakeLists.txt, the one place the version is set."""
    lists = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "CMakeLists.txt")
    with open(lists) as file:
        found = re.search(r"^project\((\w+) VERSION ([0-9.]+)", file.read(), re.M)
    if not found:
        fail("no project() version in " + lists, 1)
    return "%s (%s) %s" % (Name, found.group(1), found.group(2))


def main():
    arguments = sys.argv[1:]
    for argument in arguments:
        if argument in ("-h", "--help", "--version"):
            try:
                print(__doc__ if argument != "--version" else version())
                sys.stdout.flush()
            except OSError:
                fail("cannot write to standard output", 2)
            return
    if len(arguments) < 4:
        fail("needs OUT.zip TIME FOLDER NAME...", 2)
    out, stamp, folder, names = arguments[0], arguments[1], arguments[2], arguments[3:]
    if not re.fullmatch(r"[0-9]{1,12}", stamp):
        fail("TIME must be whole seconds since 1970: %r" % stamp, 2)
    date = max(Zip_Epoch, tuple(time.gmtime(int(stamp))[:6]))
    for name in names:
        if not os.path.isfile(os.path.join(folder, name)):
            fail("no file %r in %s" % (name, folder), 2)
    try:
        with zipfile.ZipFile(out, "w") as archive:
            for name in names:
                entry = zipfile.ZipInfo(name, date)
                entry.create_system = Unix_System
                entry.external_attr = File_Mode << 16
                entry.compress_type = zipfile.ZIP_DEFLATED
                with open(os.path.join(folder, name), "rb") as file:
                    archive.writestr(entry, file.read(), compresslevel=9)
    except OSError as error:
        fail("cannot write %s: %s" % (out, error.strerror), 1)


main()
