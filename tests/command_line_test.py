#!/usr/bin/env python3
"""The command lines of the tools and scripts we ship, case by case: --help
prints usage on stdout and exits 0 doing nothing else; --version prints the
version set in project() in CMakeLists.txt; a bad option or value is named
in one line on stderr with exit status 2, nothing on stdout and nothing
written; a failed write to stdout is one line and exit 2; good ones do what
they say, portal-scan also on live inputs (a growing file, an open pipe,
Ctrl+C, its limits), install-deps, ./test and ./run against a package
mirror in the middle of a sync (stand-ins for apt-get and dpkg).
  command_line_test.py SOURCE_DIR MAKE_SAMPLE_STREAM [BUILD]
With BUILD (a build folder with the Windows build and its Wine prefix), also
runs demo/run-demo.sh under Wine: a failing demo keeps the previous
screenshot, a good one replaces it."""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

Wine_Seconds = 300
# The values core/dvb_layout.h names (the packet format is told there, once),
# by name; read by main().
Layout = {}
Packet_Size = None

failures = []


def check(condition, text):
    if not condition:
        failures.append(text)


def read_bytes(path):
    """The file's bytes, or None if it is missing."""
    if not os.path.exists(path):
        return None
    with open(path, "rb") as file:
        return file.read()


def run(command, cwd, bare=False, timeout=60):
    """Runs a command; with bare, PATH names no folder, so a script gets
    only as far as bash builtins take it."""
    environment = dict(os.environ)
    if bare:
        environment["PATH"] = "/nonexistent"
        command = ["/bin/bash"] + command
    result = subprocess.run(command, cwd=cwd, env=environment, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, timeout=timeout)
    return (result.returncode, result.stdout.decode("utf-8", "replace"),
            result.stderr.decode("utf-8", "replace"))


def layout_values(source):
    """The plain values core/dvb_layout.h names, by name."""
    with open(os.path.join(source, "core", "dvb_layout.h")) as header:
        return {name: int(value, 0) for name, value in re.findall(
            r"^constexpr \w+ (\w+) = (0x[0-9A-Fa-f]+|[0-9]+);", header.read(), re.M)}


def project_version(source):
    """The version project() in CMakeLists.txt sets."""
    with open(os.path.join(source, "CMakeLists.txt")) as lists:
        return re.search(r"^project\(\w+ VERSION ([0-9.]+)", lists.read(), re.M).group(1)


def check_case(label, command, cwd, expect, bare=False, timeout=60, version=None):
    """expect: "help" (usage on stdout, exit 0), "version" (one line on
    stdout ending in `version`, exit 0), "error" (one line on stderr, exit 2,
    stdout empty) or an exit status with anything on the streams. Also
    checks that a help, a version or an error writes nothing into cwd."""
    before = sorted(os.listdir(cwd))
    status, out, err = run(command, cwd, bare, timeout)
    where = "%s: %s" % (label, " ".join(command[1:]) or "(no arguments)")
    if expect == "help":
        check(status == 0, "%s: exit %d, expected 0 (stderr %r)" % (where, status, err[:300]))
        check(out.startswith("usage: "), "%s: no usage on stdout: %r" % (where, out[:200]))
        check(err == "", "%s: stderr not empty: %r" % (where, err[:300]))
    elif expect == "version":
        check(status == 0 and out.count("\n") == 1 and out.split()[-1:] == [version] and
              err == "", "%s: exit %d, stdout %r, stderr %r: expected the version %s" %
              (where, status, out[:200], err[:300], version))
    elif expect == "error":
        check(status == 2, "%s: exit %d, expected 2 (stderr %r)" % (where, status, err[:300]))
        check(out == "", "%s: stdout not empty: %r" % (where, out[:200]))
        check(err.count("\n") == 1 and err.endswith("\n"),
              "%s: expected one line on stderr, got %r" % (where, err[:300]))
        check(not any(word in err for word in ("unbound variable", "line ", "command not found")),
              "%s: shell internals on stderr: %r" % (where, err[:300]))
    else:
        check(status == expect, "%s: exit %d, expected %d (stderr %r)" %
              (where, status, expect, err[:300]))
    if expect in ("help", "version", "error"):
        check(sorted(os.listdir(cwd)) == before, "%s: wrote into the folder" % where)
    return status, out, err


def check_tools_and_scripts(source, make_sample, work):
    run_script = os.path.join(source, "run")
    test_script = os.path.join(source, "test")
    demo_script = os.path.join(source, "demo", "run-demo.sh")
    deps_script = os.path.join(source, "scripts", "install-deps.sh")
    format_script = os.path.join(source, "scripts", "check-format.sh")
    fuzzer_script = os.path.join(source, "fuzz", "run-fuzzer.sh")
    long_fuzz_script = os.path.join(source, "fuzz", "run-long.sh")
    constructors_script = os.path.join(source, "cmake", "no-static-constructors.sh")
    zip_script = os.path.join(source, "cmake", "write-zip.py")
    wine_script = os.path.join(source, "scripts", "run-wine.sh")
    speed_script = os.path.join(source, "bench", "portal-scan-speed.sh")
    folder = os.path.join(work, "a-folder")
    os.mkdir(folder)
    kept = os.path.join(folder, "kept")
    open(kept, "w").close()
    for name in ("capture.ts", "other.ts"):
        with open(os.path.join(work, name), "wb") as capture:
            capture.write(bytes([Layout["Ts_Sync_Byte"]]) + bytes(Packet_Size - 1))

    # (label, command, expect, bare): the scripts run bare where they may
    # use nothing but builtins, so a help or a refusal that got as far as
    # installing or building would fail with "command not found".
    cases = [
        ("make-sample-stream", [make_sample, "--help"], "help", False),
        ("make-sample-stream", [make_sample, "-h"], "help", False),
        ("make-sample-stream", [make_sample, "out.ts", "--help"], "help", False),
        ("make-sample-stream", [make_sample], "error", False),
        ("make-sample-stream", [make_sample, "--bogus"], "error", False),
        ("make-sample-stream", [make_sample, "-x.ts"], "error", False),
        ("make-sample-stream", [make_sample, "a.ts", "b.ts"], "error", False),
        ("make-sample-stream", [make_sample, "a-folder"], "error", False),
        ("run", [run_script, "--help"], "help", True),
        ("run", [run_script, "--fast", "-h"], "help", True),
        ("run", [run_script, "--headless", "0"], "error", True),
        ("run", [run_script, "--headless", "abc"], "error", True),
        ("run", [run_script, "--headless"], "error", True),
        ("run", [run_script, "--bogus"], "error", True),
        ("run", [run_script, "a-folder"], "error", True),
        ("run", [run_script, "missing.ts"], "error", True),
        ("run", [run_script, "capture.ts", "other.ts"], "error", True),
        ("run", [run_script, "--headless", "-5"], "error", True),
        ("run", [run_script, "--headless", "1.5"], "error", True),
        ("run", [run_script, "--fast", "--headless"], "error", True),
        ("run", [run_script, "--screenshot", "x.bmp"], "error", True),
        ("test", [test_script, "--help"], "help", True),
        ("test", [test_script, "--bogus"], "error", True),
        ("test", [test_script, "-R"], "error", True),
        ("test", [test_script, "-E", "fuzz", "-E", "wine"], "error", True),
        ("run-demo.sh", [demo_script, "--help"], "help", True),
        ("run-demo.sh", [demo_script], "error", True),
        ("run-demo.sh", [demo_script, "no-such-build", "--fast"], "error", True),
        # Good options, then the build folder lacks the demo: a failure, no usage error.
        ("run-demo.sh", [demo_script, "a-folder", "--headless", "5", "capture.ts"], 1, True),
        ("run-demo.sh", [demo_script, "a-folder", "--", "capture.ts"], 1, True),
        ("install-deps.sh", [deps_script, "--help"], "help", True),
        ("install-deps.sh", [deps_script, "--bogus"], "error", True),
        ("run-wine.sh", [wine_script, "--help"], "help", True),
        ("run-wine.sh", [wine_script], "error", True),
        ("run-wine.sh", [wine_script, "run", "prefix-only"], "error", True),
        ("run-wine.sh", [wine_script, "prefix", "a-folder"], "error", True),
        ("check-format.sh", [format_script, "--help"], "help", True),
        ("check-format.sh", [format_script, "--bogus"], "error", True),
        ("run-fuzzer.sh", [fuzzer_script, "--help"], "help", True),
        ("run-fuzzer.sh", [fuzzer_script, "/bin/true", "5", "corpus"], "error", True),
        ("run-fuzzer.sh", [fuzzer_script, "/bin/true", "5", "a-folder", "/bin/true", "section"],
         "error", True),
        ("run-long.sh", [long_fuzz_script, "--help"], "help", True),
        ("run-long.sh", [long_fuzz_script, "--build", "a-folder", "0"], "error", True),
        ("no-static-constructors.sh", [constructors_script, "--help"], "help", True),
        ("no-static-constructors.sh", [constructors_script, "/bin/true"], "error", True),
        ("write-zip.py", [zip_script, "--help"], "help", False),
        ("write-zip.py", [zip_script, "out.zip", "yesterday", ".", "capture.ts"], "error", False),
        ("portal-scan-speed.sh", [speed_script, "--help"], "help", False),
        ("portal-scan-speed.sh", [speed_script, "--runs", "0"], "error", False),
    ]
    for label, command, expect, bare in cases:
        check_case(label, command, work, expect, bare)
    check(os.path.exists(kept), "a script removed a folder it was given")

    # Every script says the project's version.
    version = project_version(source)
    for script in (run_script, test_script, demo_script, deps_script, wine_script, format_script,
                   fuzzer_script, long_fuzz_script, constructors_script, speed_script):
        check_case(os.path.basename(script), [script, "--version"], work, "version", True,
                   version=version)

    check_case("write-zip.py", [zip_script, "--version"], work, "version", version=version)

    # A relative capture is the caller's: found from work, not from a-folder.
    check_case("run", [run_script, "capture.ts"], folder, "error", True)

    # make-sample-stream writes the sample, the same to a name after "--" and
    # to standard output.
    written = []
    for arguments, name in ((["sample.ts"], "sample.ts"), (["--", "-dash.ts"], "-dash.ts")):
        check_case("make-sample-stream", [make_sample] + arguments, work, 0)
        written.append(read_bytes(os.path.join(work, name)) or b"")
    result = subprocess.run([make_sample, "-"], cwd=work, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    written.append(result.stdout)
    check(result.returncode == 0 and result.stderr.count(b"\n") == 1,
          "make-sample-stream -: exit %d, stderr %r" % (result.returncode, result.stderr))
    check(len(written[0]) > 0 and len(written[0]) % Packet_Size == 0 and
          written[0] == written[1] == written[2],
          "make-sample-stream: the three samples differ or are no capture")


# Stand-ins for the package tools, first on PATH: apt-get answers as a
# mirror in the middle of a sync does (STAND_IN_UPDATES: one word a call of
# "apt-get update", the last repeated: "ok", or "fail" and the exit status
# apt gives, which may be 0 although an index failed) and fails to install;
# dpkg-query finds the packages of STAND_IN_MISSING missing; every call is
# logged in STAND_IN_LOG, and cmake, which must not be reached, fails.
Mirror_Index = "http://mirror.example.org/os-security stable-security/main i386 Packages"
Mirror_Reason = "File has unexpected size (374820 != 376004). Mirror sync in progress?"
Stand_Ins = {
    "apt-get": r"""
echo "apt-get $*" >>"$STAND_IN_LOG"
if [[ " $* " == *" install "* ]]; then
  echo "Reading package lists..."
  echo "E: Unable to correct problems, you have held broken packages." >&2
  exit 100
fi
tries=$(grep -c '^apt-get .*update' "$STAND_IN_LOG")
answers=($STAND_IN_UPDATES)
answer=${answers[tries - 1]:-${answers[-1]}}
echo "Hit:1 http://mirror.example.org/os stable InRelease"
if [[ $answer == ok ]]; then
  echo "Reading package lists..."
  exit 0
fi
echo "Ign:6 %(index)s"
echo "Get:6 %(index)s [376 kB]"
echo "Err:6 %(index)s"
echo "  %(reason)s [IP: 192.0.2.80 80]"
echo "  Hashes of expected file:"
echo "Reading package lists..."
echo "E: Failed to fetch http://mirror.example.org/os-security/dists/stable-security/main/binary-i386/Packages.xz  %(reason)s [IP: 192.0.2.80 80]" >&2
echo "   Hashes of expected file:" >&2
echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
exit "${answer#fail}"
""" % {"index": Mirror_Index, "reason": Mirror_Reason},
    "dpkg-query": r"""
package=${!#}
if [[ " $STAND_IN_MISSING " == *" $package "* ]]; then
  echo "dpkg-query: no packages found matching $package" >&2
  exit 1
fi
printf 'install ok installed'
""",
    "dpkg": r"""
echo "dpkg $*" >>"$STAND_IN_LOG"
[[ $1 != --print-foreign-architectures ]] || echo i386
""",
    "sudo": 'exec "$@"\n',
    "cmake": 'echo "cmake $*" >>"$STAND_IN_LOG"\nexit 99\n',
}


def check_install_deps_on_a_bad_day(source, work):
    """install-deps, ./test and ./run while the mirror's i386 index is being
    synced: apt-get update is tried three times, each failure named; the
    install is tried all the same; its failure is one line of ours naming
    the step, the index and what to do, and exit status 1, passed on by
    ./test and ./run before they build anything."""
    folder = os.path.join(work, "stand-ins")
    os.mkdir(folder)
    for name, text in Stand_Ins.items():
        path = os.path.join(folder, name)
        with open(path, "w") as script:
            script.write("#!/bin/bash\n" + text.lstrip("\n"))
        os.chmod(path, 0o755)
    log = os.path.join(work, "stand-in.log")
    missing = "wine wine32 fonts-wine"
    deps_script = os.path.join(source, "scripts", "install-deps.sh")
    # (label, command, apt-get update's answers, pause, exit status, tries
    # of apt-get update, whether the failure blames the index)
    cases = [
        ("install-deps", [deps_script], "fail100", "0", 1, 3, True),
        ("install-deps", [deps_script], "fail0", "0", 1, 3, True),
        ("install-deps", [deps_script], "fail100 fail0", "1", 1, 3, True),
        ("install-deps", [deps_script], "fail100 ok", "0", 1, 2, False),
        ("install-deps", [deps_script], "fail100", "soon", 2, 0, False),
        ("install-deps", [deps_script], "fail100", "3601", 2, 0, False),
        ("test", [os.path.join(source, "test")], "fail100", "0", 1, 3, True),
        ("run", [os.path.join(source, "run")], "fail0", "0", 1, 3, True),
    ]
    for label, command, updates, pause, expect, tries, blamed in cases:
        where = "%s with apt-get update answering %r, pause %s" % (label, updates, pause)
        open(log, "w").close()
        environment = dict(os.environ, PATH=folder + os.pathsep + os.environ["PATH"],
                           STAND_IN_LOG=log, STAND_IN_UPDATES=updates, STAND_IN_MISSING=missing,
                           PICTO_APT_RETRY_SECONDS=pause)
        started = time.monotonic()
        result = subprocess.run(command, cwd=work, env=environment, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=60)
        seconds = time.monotonic() - started
        out = result.stdout.decode("utf-8", "replace")
        err = result.stderr.decode("utf-8", "replace")
        with open(log) as calls:
            calls = calls.read().splitlines()
        ours = [line for line in err.splitlines() if line.startswith("install-deps: ")]
        check(result.returncode == expect, "%s: exit %d, expected %d (stderr %r)" %
              (where, result.returncode, expect, err[-600:]))
        check(len(ours) == 1, "%s: expected one line of ours on stderr: %r" % (where, err[-600:]))
        check(not any(word in err for word in ("unbound variable", "line ", "command not found")),
              "%s: shell internals on stderr: %r" % (where, err[-600:]))
        check(not [call for call in calls if call.startswith("cmake")],
              "%s: went on to build: %r" % (where, calls))
        updated = [call for call in calls if call.startswith("apt-get") and "update" in call]
        installed = [call for call in calls if call.startswith("apt-get") and "install" in call]
        check(len(updated) == tries, "%s: apt-get update %d times, expected %d" %
              (where, len(updated), tries))
        if expect == 2:
            check(result.stdout == b"" and not calls and "PICTO_APT_RETRY_SECONDS" in err,
                  "%s: not refused before anything ran: %r %r" % (where, out, calls))
            continue
        check(len(installed) == 1 and installed[0].endswith(" " + missing),
              "%s: expected one apt-get install of %s: %r" % (where, missing, calls))
        notes = [line for line in out.splitlines() if line.startswith("install-deps: apt-get")]
        check(len(notes) == (tries if blamed else tries - 1) and
              all(Mirror_Index + " (" + Mirror_Reason + ")" in note for note in notes),
              "%s: each failed try not named: %r" % (where, notes))
        check(all("trying again in %s s" % pause in note for note in notes[:tries - 1]),
              "%s: the retries do not say the pause: %r" % (where, notes))
        check(seconds >= (tries - 1) * int(pause), "%s: %.1f s, less than the pauses" %
              (where, seconds))
        failure = ours[0] if ours else ""
        check(failure.startswith("install-deps: installing %s failed (apt-get: Unable to correct "
                                 "problems, you have held broken packages.)" % missing),
              "%s: the failure does not name the step and apt's reason: %r" % (where, failure))
        check((Mirror_Index in failure and "try again later" in failure and
               "another mirror" in failure) == blamed,
              "%s: the failure %s the index: %r" %
              (where, "does not blame" if blamed else "blames", failure))


def check_versions_and_write_errors(source, tools, work):
    """Every tool says the project's version; a failed write to stdout is
    one line on stderr and exit 2."""
    version = project_version(source)
    for tool in tools:
        status, out, err = run([tool, "--version"], work)
        name = os.path.basename(tool)
        check(status == 0 and out == "%s (Pictolandrum) %s\n" % (name, version) and err == "",
              "%s --version: exit %d, %r %r" % (name, status, out, err))
    make_sample, portal_scan = tools[0], tools[1]
    sample = os.path.join(work, "sample.ts")
    for command in ([make_sample, "-"], [portal_scan, sample], [portal_scan, "--json", sample],
                    [portal_scan, "--explain", sample], [portal_scan, "--version"],
                    [portal_scan, "--help"]):
        with open("/dev/full", "wb") as full:
            result = subprocess.run(command, cwd=work, stdout=full, stderr=subprocess.PIPE)
        err = result.stderr.decode("utf-8", "replace")
        check(result.returncode == 2 and err.count("\n") == 1 and "standard output" in err,
              "%s > /dev/full: exit %d, stderr %r" % (" ".join(command[1:]), result.returncode,
                                                       err))


def json_lines(text):
    """The JSON objects of portal-scan's follow output, one per line."""
    return [json.loads(line) for line in text.splitlines() if line.strip()]


def last_report(text):
    """portal-scan's report: the whole output, or its last line after --follow's."""
    try:
        return json.loads(text)
    except ValueError:
        return json_lines(text)[-1]


def decoded_portals(report):
    return sum(1 for portal in report["portals"] if portal["decoded"])


def check_portal_scan_live(portal_scan, work):
    """portal-scan on inputs that are still being written: a file that grows
    and then goes (removed, or another put in its place), an open pipe and
    a FIFO of random bytes that Ctrl+C ends, and its limits."""
    sample = read_bytes(os.path.join(work, "sample.ts"))
    half = len(sample) // Packet_Size // 2 * Packet_Size

    # A growing file, followed: each change as it comes, and the report.
    # Removed: the report, said so, exit 3. Replaced, or cut short and
    # written anew: the first capture's report, then the new file read from
    # its start as capture 2, its changes and its report, until Ctrl+C.
    packets = len(sample) // Packet_Size
    waiting = "portal-scan: %s: at its end; waiting for it to grow (Ctrl+C ends the scan)\n"
    for ending, status, note in (
            ("removed", 3, "removed while it was followed: the scan ends there"),
            ("replaced", 0, "another file put in its place: read from its start as capture 2"),
            ("written anew", 0, "cut shorter than what was read: read from its start as capture 2")):
        growing = os.path.join(work, "growing.ts")
        with open(growing, "wb") as capture:
            capture.write(sample[:half])
        scan = subprocess.Popen([portal_scan, "--follow", "--json", growing], cwd=work,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        time.sleep(0.5)
        with open(growing, "ab") as capture:
            for at in range(half, len(sample), 1000):
                capture.write(sample[at:at + 1000])
                capture.flush()
                time.sleep(0.01)
        time.sleep(0.5)
        if ending == "removed":
            os.unlink(growing)
        elif ending == "replaced":
            with open(growing + ".new", "wb") as other:
                other.write(sample)
            os.rename(growing + ".new", growing)
        else:
            open(growing, "wb").close()
            time.sleep(0.5)
            with open(growing, "ab") as capture:
                capture.write(sample)
        if status == 0:
            time.sleep(1)
            scan.send_signal(signal.SIGINT)
        try:
            out, err = scan.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            scan.kill()
            out, err = scan.communicate()
        lines = json_lines(out.decode("utf-8"))
        reports = [line for line in lines if "offset" not in line]
        expected_err = (waiting + "portal-scan: %s: " + note + "\n") % (growing, growing)
        if status == 0:
            expected_err += waiting % growing
        captures = 2 if status == 0 else 1  # 4 changes and the report each
        check(scan.returncode == status and err.decode() == expected_err and
              len(lines) == 5 * captures and len(reports) == captures and
              all(decoded_portals(report) == 4 and report["packets"] == packets and
                  not report["stopped"] and report.get("capture", 1) == number + 1
                  for number, report in enumerate(reports)) and
              all(line.get("capture", 1) == 1 + (i >= 5) for i, line in enumerate(lines)) and
              (captures == 1 or [line["offset"] for line in lines[:4]] ==
               [line["offset"] for line in lines[5:9]]),
              "--follow on a growing file, %s: exit %r, stderr %r, %d lines: %r" %
              (ending, scan.returncode, err[:400], len(lines),
               [(line.get("offset"), line.get("capture"), line.get("packets")) for line in lines]))

    # Ctrl+C on an open pipe, in every mode: the lists as they stand, exit 0,
    # the scan stopped; on a followed file read to its end the same, but not
    # stopped before the end of its input. A FIFO of random bytes: "not a
    # transport stream", exit 2; an open pipe that brings nothing: nothing
    # arrived, exit 2.
    fifo = os.path.join(work, "random.fifo")
    os.mkfifo(fifo)
    sample_path = os.path.join(work, "sample.ts")
    cases = [(["--json", "-"], sample, 0), (["--follow", "--json", "-"], sample, 0),
             (["--explain", "--json", "-"], sample, 0), (["--follow", fifo], os.urandom(50000), 2),
             (["--json", fifo], os.urandom(50000), 2), (["--follow", "--json", sample_path], b"", 0),
             (["--json", "-"], b"", 2)]
    for arguments, data, expected in cases:
        scan = subprocess.Popen([portal_scan] + arguments, cwd=work,
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        feed = open(fifo, "wb") if fifo in arguments else scan.stdin
        feed.write(data)
        feed.flush()
        time.sleep(1)
        scan.send_signal(signal.SIGINT)
        try:  # the input stays open until portal-scan has ended
            scan.wait(timeout=10)
        except subprocess.TimeoutExpired:
            scan.kill()
        out, err = scan.communicate()
        if feed is not scan.stdin:
            feed.close()
        where = "Ctrl+C on portal-scan %s" % " ".join(arguments)
        check(scan.returncode == expected, "%s: exit %r (%r)" % (where, scan.returncode, err))
        if expected == 0:
            report = last_report(out.decode("utf-8"))
            note = b"" if sample_path not in arguments else (
                "portal-scan: %s: at its end; waiting for it to grow (Ctrl+C ends the scan)\n"
                % sample_path).encode()
            check(decoded_portals(report) == 4 and report["stopped"] == (sample_path not in arguments)
                  and err == note, "%s: %r %r" % (where, out[-300:], err))
        else:
            check(out == b"" and err.count(b"\n") == 1 and
                  (data or b"no data arrived before the scan was stopped" in err),
                  "%s: %r %r" % (where, out, err))

    # The limits: --until-decoded stops behind the last decode (exit 0) or
    # says with exit 1 that a portal was not decoded; --max-packets and
    # --max-seconds stop where they say.
    one_packet = os.path.join(work, "capture.ts")
    packets = len(sample) // Packet_Size
    limits = [(["--until-decoded", "sample.ts"], 0, lambda r: r["packets"] < packets),
              (["--until-decoded", one_packet], 1, lambda r: r["packets"] == 1),
              (["--max-packets", "10", "sample.ts"], 0,
               lambda r: r["packets"] == 10 and r["stopped"]),
              (["--max-packets", str(packets), "sample.ts"], 0,
               lambda r: r["packets"] == packets and not r["stopped"]),
              (["--until-decoded", "--max-packets", "10", "sample.ts"], 1,
               lambda r: r["packets"] == 10),
              (["--follow", "--max-seconds", "1", "sample.ts"], 0,
               lambda r: decoded_portals(r) == 4)]
    for arguments, expected, holds in limits:
        started = time.monotonic()
        status, out, err = run([portal_scan, "--json"] + arguments, work, timeout=20)
        report = last_report(out) if status in (0, 1) and out else {}
        check(status == expected and report and holds(report) and
              time.monotonic() - started < 5,
              "portal-scan %s: exit %d, %r %r" % (" ".join(arguments), status, out[-300:], err))

    # Nothing within the time limit: said so, exit 2.
    waiting = subprocess.Popen(["sleep", "4"], stdout=subprocess.PIPE)
    status, out, err = (lambda r: (r.returncode, r.stdout, r.stderr))(subprocess.run(
        [portal_scan, "--max-seconds", "1", "-"], cwd=work, stdin=waiting.stdout,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20))
    waiting.stdout.close()
    waiting.kill()
    waiting.wait()
    check(status == 2 and out == b"" and err == b"portal-scan: -: no data arrived within 1 second\n",
          "portal-scan --max-seconds 1 on a silent pipe: exit %d, %r %r" % (status, out, err))

    # The text report counts in words and says at the end of its head that
    # the scan stopped early, and the progress line on a terminal names no
    # portal: one pass serves all four.
    status, out, err = run([portal_scan, "--max-packets", "1", "sample.ts"], work)
    head = out.split("\n\n")[0].split("\n")
    check(status == 0 and head[0] == "sample.ts: 1 packet" and head[-2].startswith("  summary: ")
          and head[-1] == "  stopped before the end of the input",
          "portal-scan --max-packets 1: exit %d, %r" % (status, out[:600]))
    leader, follower = os.openpty()
    result = subprocess.run([portal_scan, "sample.ts"], cwd=work, stdout=subprocess.PIPE,
                            stderr=follower, timeout=20)
    os.close(follower)
    progress = b""
    while True:
        try:
            chunk = os.read(leader, 4096)
        except OSError:
            break
        if not chunk:
            break
        progress += chunk
    os.close(leader)
    check(result.returncode == 0 and b"MiB read" in progress and b"portal 0" not in progress,
          "portal-scan's progress line on a terminal: %r" % progress)


def check_demo_screenshot(source, build, work):
    """run-demo.sh in a build folder of its own (the real programs and Wine
    prefix linked in): a failing demo keeps the old screenshot, a good one
    replaces it."""
    demo_script = os.path.join(source, "demo", "run-demo.sh")
    own_build = os.path.join(work, "build")
    os.makedirs(os.path.join(own_build, "win32"))
    for program in ("pictolandrum-demo.exe", "Pictolandrum.dll"):
        shutil.copy(os.path.join(build, "win32", program), os.path.join(own_build, "win32"))
    os.symlink(os.path.join(build, "wine-prefix"), os.path.join(own_build, "wine-prefix"))
    screenshot = os.path.join(own_build, "demo-screenshot.png")
    old_picture = b"the previous screenshot"
    with open(screenshot, "wb") as picture:
        picture.write(old_picture)

    # One packet, on PID 0x12 and flagged with the transport error indicator.
    damaged = os.path.join(work, "damaged.ts")
    header = [Layout["Ts_Sync_Byte"], Layout["Ts_Error_Bit"] | Layout["Ts_Unit_Start_Bit"],
              Layout["Eit_Pid"], Layout["Ts_Payload_Only"] << Layout["Ts_Adaptation_Shift"]]
    with open(damaged, "wb") as capture:
        capture.write(bytes(header) + bytes([Layout["Stuffing_Byte"]]) * (Packet_Size - len(header)))
    status, out, err = run([demo_script, own_build, "--headless", "1", "damaged.ts"], work,
                           timeout=Wine_Seconds)
    ours = [line for line in err.splitlines() if line.startswith("pictolandrum-demo: ")]
    check(status == 2, "run-demo.sh on a damaged capture: exit %d, expected 2" % status)
    check(out == "", "run-demo.sh on a damaged capture: stdout %r" % out[:300])
    check(len(ours) == 1 and "no usable packets on PID 0x12" in ours[0] and
          "1 of its 1 packets are flagged with the transport error indicator" in ours[0],
          "run-demo.sh on a damaged capture: demo said %r" % err[:400])
    check(read_bytes(screenshot) == old_picture, "a failed demo replaced or removed the screenshot")

    status, out, err = run([demo_script, own_build, "--fast", "--headless", "1"], work,
                           timeout=Wine_Seconds)
    check(status == 0, "run-demo.sh --fast --headless 1: exit %d (%r)" % (status, err[-400:]))
    check(out.rstrip().endswith("Screenshot of the demo: " + screenshot),
          "run-demo.sh did not say where the screenshot is: %r" % out[-300:])
    check((read_bytes(screenshot) or b"").startswith(b"\x89PNG\r\n\x1a\n"),
          "the new screenshot is no PNG")
    check(not [name for name in os.listdir(own_build) if name.endswith(".new")],
          "a temporary screenshot was left behind")


def main():
    if len(sys.argv) == 2 and sys.argv[1] in ("-h", "--help"):
        print(__doc__)
        return
    if len(sys.argv) not in (3, 4):
        sys.stderr.write("command_line_test.py: needs SOURCE_DIR MAKE_SAMPLE_STREAM [BUILD] "
                         "(see --help)\n")
        sys.exit(2)
    source, make_sample = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    global Packet_Size
    Layout.update(layout_values(source))
    Packet_Size = Layout["Ts_Packet_Size"]
    bench = os.path.join(os.path.dirname(os.path.dirname(make_sample)), "bench")
    tools = [make_sample, os.path.join(os.path.dirname(make_sample), "portal-scan"),
             os.path.join(bench, "make-busy-capture"), os.path.join(bench, "dvbpsi-portal-scan")]
    with tempfile.TemporaryDirectory() as work:
        check_tools_and_scripts(source, make_sample, work)
        check_install_deps_on_a_bad_day(source, work)
        check_versions_and_write_errors(source, [tool for tool in tools if os.path.exists(tool)],
                                        work)
        peer = tools[3]  # built only where libdvbpsi is installed
        if os.path.exists(peer):
            for command, expect in (([peer, "--help"], "help"), ([peer], "error"),
                                    ([peer, "--bogus"], "error"), ([peer, "missing.ts"], "error"),
                                    ([peer, "a.ts", "b.ts"], "error")):
                check_case("dvbpsi-portal-scan", command, work, expect)
        check_portal_scan_live(tools[1], work)
    if len(sys.argv) == 4:
        with tempfile.TemporaryDirectory() as work:
            check_demo_screenshot(source, os.path.abspath(sys.argv[3]), work)
    for failure in failures:
        print("FAILED: " + failure)
    sys.exit(1 if failures else 0)


main()
