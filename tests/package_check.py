#!/usr/bin/env python3
"""Checks what viewers and installers get, against the built DLL.
  package_check.py zip ZIP DLL VERSION FIELDS
      the release zip: exactly NAME/{Pictolandrum.dll, README.txt,
      LICENSE.txt, SHA256SUMS} (NAME the zip's name without .zip), the
      checksums right for the other three, the DLL the built one with the
      version record VERSION (FileVersion) and FIELDS (e.g. 0.1.0.2) and no
      build time in its headers (so two builds of one commit give the same
      bytes), the text files with Windows line ends.
  package_check.py install CMAKE BUILD DLL
      `cmake --install BUILD` into a temporary prefix: exactly bin/portal-scan,
      bin/make-sample-stream (which write and scan the sample) and share/pictolandrum/{Pictolandrum.dll,
      README.txt, LICENSE.txt}."""
import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import zipfile

Fixed_Info_Signature = struct.pack("<I", 0xFEEF04BD)
Guide_Words = ["Pictolandrum.INI", '"Active"', "plug-in folder", "Removing"]
License_Words = ["MIT License", "Copyright (c) the Pictolandrum developers"]

failures = []


def check(condition, text):
    if not condition:
        failures.append(text)


def version_record(dll):
    """(file version fields, FileVersion string) of a DLL's version record."""
    at = dll.find(Fixed_Info_Signature)
    if at < 0:
        return None, None
    file_ms, file_ls = struct.unpack_from("<II", dll, at + 8)
    fields = (file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16, file_ls & 0xFFFF)
    key = "FileVersion\0".encode("utf-16-le")
    text_at = dll.find(key)
    if text_at < 0:
        return fields, None
    text_at += len(key)
    text_at += text_at % 4  # the value is aligned to 32 bits
    end = text_at
    while end + 1 < len(dll) and dll[end:end + 2] != b"\0\0":
        end += 2
    return fields, dll[text_at:end].decode("utf-16-le")


def build_times(dll):
    """The time stamps a linker may write into a PE file, by where they
    stand: the COFF header's and those of the export, resource and debug
    directories."""
    pe = struct.unpack_from("<I", dll, 0x3C)[0]
    if dll[pe:pe + 4] != b"PE\0\0":
        return {"PE signature": -1}
    coff = pe + 4
    sections, optional_size = struct.unpack_from("<H", dll, coff + 2)[0], \
        struct.unpack_from("<H", dll, coff + 16)[0]
    optional = coff + 20
    directories = struct.unpack_from("<I", dll, optional + 92)[0]  # PE32: 96 bytes before them
    table = optional + optional_size

    def file_offset(rva):
        for index in range(sections):
            size, address, _, raw = struct.unpack_from("<IIII", dll, table + 40 * index + 8)
            if address <= rva < address + size:
                return raw + rva - address
        return None

    stamps = {"COFF header": struct.unpack_from("<I", dll, coff + 4)[0]}
    for index, name in ((0, "export directory"), (2, "resource directory"),
                        (6, "debug directory")):
        if index < directories:
            rva = struct.unpack_from("<I", dll, optional + 96 + 8 * index)[0]
            at = file_offset(rva) if rva else None
            if at is not None:
                stamps[name] = struct.unpack_from("<I", dll, at + 4)[0]
    return stamps


def check_zip(zip_path, dll_path, version, fields_text):
    name = os.path.basename(zip_path)[:-len(".zip")]
    check(version in name, "the zip's name %s lacks the version %s" % (name, version))
    files = ["Pictolandrum.dll", "README.txt", "LICENSE.txt", "SHA256SUMS"]
    with zipfile.ZipFile(zip_path) as archive:
        names = sorted(info.filename for info in archive.infolist() if not info.is_dir())
        check(names == sorted(name + "/" + file for file in files),
              "the zip holds %s" % names)
        content = {file: archive.read(name + "/" + file) for file in files
                   if name + "/" + file in names}
    if len(content) != len(files):
        return
    sums = {}
    for line in content["SHA256SUMS"].decode("ascii").splitlines():
        digest, _, file = line.partition("  ")
        sums[file] = digest
    check(sorted(sums) == sorted(files[:3]), "SHA256SUMS lists %s" % sorted(sums))
    for file in files[:3]:
        check(sums.get(file) == hashlib.sha256(content[file]).hexdigest(),
              "the checksum of %s is wrong" % file)
    with open(dll_path, "rb") as built:
        check(content["Pictolandrum.dll"] == built.read(), "the zip's DLL is not the built one")
    fields, text = version_record(content["Pictolandrum.dll"])
    expected_fields = tuple(int(field) for field in fields_text.split("."))
    check(fields == expected_fields, "version record %s, expected %s" % (fields, expected_fields))
    check(text == version, "FileVersion %r, expected %r" % (text, version))
    stamped = {where: stamp for where, stamp in build_times(content["Pictolandrum.dll"]).items()
               if stamp != 0}
    check(not stamped, "the DLL carries a build time: %s" % stamped)
    for file, words in (("README.txt", Guide_Words), ("LICENSE.txt", License_Words)):
        text = content[file].decode("ascii", "replace")
        check(text.count("\n") == text.count("\r\n") > 0, "%s lacks Windows line ends" % file)
        for word in words:
            check(word in text, "%s does not mention %s" % (file, word))


def check_install(cmake, build, dll_path):
    with tempfile.TemporaryDirectory() as prefix:
        result = subprocess.run([cmake, "--install", build, "--prefix", prefix],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        check(result.returncode == 0, "cmake --install failed: %s" % result.stdout[-500:])
        found = sorted(os.path.relpath(os.path.join(folder, file), prefix)
                       for folder, _, files in os.walk(prefix) for file in files)
        expected = sorted(["bin/make-sample-stream", "bin/portal-scan",
                           "share/pictolandrum/Pictolandrum.dll",
                           "share/pictolandrum/README.txt", "share/pictolandrum/LICENSE.txt"])
        check(found == expected, "installed %s" % found)
        tools = [os.path.join(prefix, "bin", tool) for tool in ("make-sample-stream", "portal-scan")]
        if all(os.path.exists(tool) for tool in tools):
            capture = os.path.join(prefix, "sample.ts")
            made = subprocess.run([tools[0], capture], stdout=subprocess.PIPE)
            scan = subprocess.run([tools[1], capture], stdout=subprocess.PIPE)
            check(made.returncode == 0 and scan.returncode == 0 and
                  b"source section decoded" in scan.stdout,
                  "the installed tools do not write and scan the sample")
        installed = os.path.join(prefix, "share/pictolandrum/Pictolandrum.dll")
        if os.path.exists(installed):
            with open(installed, "rb") as one, open(dll_path, "rb") as other:
                check(one.read() == other.read(), "the installed DLL is not the built one")


def main():
    mode = sys.argv[1] if len(sys.argv) > 1 else ""
    if mode == "zip" and len(sys.argv) == 6:
        check_zip(*sys.argv[2:])
    elif mode == "install" and len(sys.argv) == 5:
        check_install(*sys.argv[2:])
    else:
        sys.stderr.write("usage: package_check.py zip ZIP DLL VERSION FIELDS | "
                         "install CMAKE BUILD DLL\n")
        sys.exit(2)
    for failure in failures:
        print("FAILED: " + failure)
    sys.exit(1 if failures else 0)


main()
