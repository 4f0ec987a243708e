#!/usr/bin/env python3
"""Runs the demo host headless under Wine (through run-wine.sh) and checks
what it prints.
  check_demo.py RUNNER PREFIX WORKDIR PROGRAM MODULE walk
      the walk through the portal window on the bundled sample: the start
      request, every portal's decoded captions read back from the buttons,
      the pressed entry's switch request and the channel change, in order;
      exit 0, a BMP screenshot, and the end within a second of --headless.
  check_demo.py ... no-lists
      a capture whose PID 0x12 holds no section: the end within a second of
      --headless all the same, exit 0.
  check_demo.py ... missing-capture | not-a-capture | missing-module
      one line on stderr, nothing on stdout, exit 2 as for any bad input.
  check_demo.py ... no-display
      straight under Wine with a display that does not exist: one line on
      stderr that names it and points to --headless, exit 1."""
import os
import subprocess
import sys

SAMPLE_CAPTIONS = [
    "Lumen Kino | Lumen Abenteuer | Lumen Familie | Lumen Serien | "
    "Lumen Spannung | Riedgau Heimat",
    "Nachtfalter 1 | Nachtfalter 2 | Nachtfalter 3",
    "Anstoss Liga 1 | Anstoss Liga 2 | Anstoss Liga 3 | Anstoss Liga 4 | Anstoss Liga 5 | "
    "Anstoss Liga 6 | Anstoss Pokal 1 | Anstoss Pokal 2 | Fu\u00dfball Konferenz",
    "Sportfeld 1 | Sportfeld 2 | Rennbahn Boxengasse | Rennbahn Onboard | "
    "Sportfeld \u00d6sterreich",
]

Walk_Seconds = 12  # the walk on the sample at --fast takes about 7
No_Lists_Seconds = 2
Input_Error_Status = 2
Missing_Display = ":9713"

failures = []


def check(condition, text):
    if not condition:
        failures.append(text)


def decoded(result):
    return (result.returncode, result.stdout.decode("utf-8", "replace"),
            result.stderr.decode("utf-8", "replace"))


def run(runner, prefix, workdir, program, module, *arguments):
    return decoded(subprocess.run([runner, "run", prefix, workdir, "120", program, module,
                                   *arguments], stdout=subprocess.PIPE, stderr=subprocess.PIPE))


def run_without_display(prefix, workdir, program, module):
    """The program straight under Wine, its display one that is not there;
    the prefix's server is shut down after, as run-wine.sh does."""
    os.makedirs(workdir, exist_ok=True)
    for name in (program, module):
        with open(name, "rb") as source, \
                open(os.path.join(workdir, os.path.basename(name)), "wb") as copy:
            copy.write(source.read())
    environment = dict(os.environ, WINEPREFIX=prefix, WINEARCH="win32", WINEDEBUG="-all",
                       WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=Missing_Display)
    try:
        return decoded(subprocess.run(["wine", "./" + os.path.basename(program), "--headless", "1"],
                                      cwd=workdir, env=environment, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, timeout=60))
    finally:
        subprocess.run(["wineserver", "-k"], env=environment, stderr=subprocess.DEVNULL)


def messages(stdout):
    """The log lines without their time stamps."""
    return [line.split("  ", 1)[1] if "  " in line else line
            for line in (raw.strip() for raw in stdout.splitlines()) if line]


def first_index(lines, text, after=-1):
    """Index of the first line after `after` that starts with `text`, or None."""
    for index in range(after + 1, len(lines)):
        if lines[index].startswith(text):
            return index
    return None


def check_in_order(lines, expected):
    at = -1
    for text in expected:
        found = first_index(lines, text, at)
        check(found is not None, "no line \"%s\" after line %d" % (text, at))
        if found is None:
            return
        at = found


def check_ends_in_time(stdout, seconds):
    """The log's last time stamp within a second of `seconds`."""
    stamps = [line.split()[0] for line in stdout.splitlines() if line.strip()]
    try:
        last = float(stamps[-1])
    except (IndexError, ValueError):
        check(False, "no time stamp on the log's last line: %r" % stdout[-200:])
        return
    check(abs(last - seconds) <= 1.0, "ended after %.3f s, not within a second of %d s" %
          (last, seconds))


def check_walk(status, stdout, workdir):
    check(status == 0, "exit status %d, expected 0" % status)
    lines = messages(stdout)
    expected = ['plug-in: asks for a filter on PID 0x0012 named "Pictolandrum"',
                "host: filter running on PID 0x0012"]
    for portal, captions in enumerate(SAMPLE_CAPTIONS):
        expected.append("window: portal %d shows %s" % (portal, captions))
        expected.append("viewer: >>")
    expected += ["window: portal 0 shows " + SAMPLE_CAPTIONS[0],
                 'viewer: entry 2 "Lumen Familie"',
                 "plug-in: asks to switch to transport stream 4, service 210",
                 "host: tuned to transport stream 4, service 210 (On_Channel_Change); "
                 "filter running",
                 "screenshot: taken"]
    check_in_order(lines, expected)
    check(first_index(lines, "host: the capture has no") is None, "a switch was refused")
    check_ends_in_time(stdout, Walk_Seconds)
    with open(os.path.join(workdir, "demo-screenshot.bmp"), "rb") as shot:
        head = shot.read(2)
    check(head == b"BM", "the screenshot is no BMP file")


def check_failure(status, stdout, stderr, reason, expected_status=Input_Error_Status):
    check(status == expected_status, "exit status %d, expected %d" % (status, expected_status))
    check(stdout.strip() == "", "stdout not empty: %r" % stdout[:200])
    ours = [line for line in stderr.splitlines() if line.startswith("pictolandrum-demo: ")]
    check(len(ours) == 1 and reason in ours[0],
          "expected one line with \"%s\" on stderr, got %r" % (reason, ours))


def main():
    if len(sys.argv) == 2 and sys.argv[1] in ("-h", "--help"):
        print(__doc__)
        return
    if len(sys.argv) != 7:
        sys.stderr.write("check_demo.py: needs RUNNER PREFIX WORKDIR PROGRAM MODULE MODE "
                         "(see --help)\n")
        sys.exit(2)
    runner, prefix, workdir, program, module, mode = sys.argv[1:7]
    if mode == "walk":
        status, stdout, stderr = run(runner, prefix, workdir, program, module,
                                     "--fast", "--headless", str(Walk_Seconds), "--screenshot",
                                     "demo-screenshot.bmp")
        check_walk(status, stdout, workdir)
    elif mode == "no-lists":
        # Packets on PID 0x12 that start a section but hold only stuffing;
        # beside WORKDIR, which the runner empties.
        capture = workdir + ".ts"
        with open(capture, "wb") as file:
            file.write((bytes([0x47, 0x40, 0x12, 0x10, 0x00]) + b"\xff" * 183) * 50)
        status, stdout, stderr = run(runner, prefix, workdir, program, module,
                                     "--headless", str(No_Lists_Seconds), capture)
        check(status == 0, "exit status %d, expected 0" % status)
        check_ends_in_time(stdout, No_Lists_Seconds)
    elif mode == "no-display":
        status, stdout, stderr = run_without_display(prefix, workdir, program, module)
        check_failure(status, stdout, stderr, "'%s'" % Missing_Display, 1)
        check("--headless" in stderr, "no word of --headless: %r" % stderr)
    elif mode == "missing-capture":
        status, stdout, stderr = run(runner, prefix, workdir, program, module,
                                     "--headless", "1", "no-such-capture.ts")
        check_failure(status, stdout, stderr, "cannot open no-such-capture.ts")
    elif mode == "not-a-capture":
        # Plain text with no sync byte (0x47, "G") at all: no packet can be
        # found in it, whatever the reader's rules (a program file may hold
        # sync bytes at a packet spacing by chance).
        # (Beside the work folder, which the run makes anew.)
        text = workdir.rstrip("/") + "-not-a-capture.ts"
        with open(text, "w") as out:
            out.write("only text here, no packets\n" * 400)
        status, stdout, stderr = run(runner, prefix, workdir, program, module,
                                     "--headless", "1", text)
        check_failure(status, stdout, stderr, "is not a transport stream")
    elif mode == "missing-module":
        status, stdout, stderr = run(runner, prefix, workdir, program, module,
                                     "--headless", "1", "--module", "Missing.dll")
        check_failure(status, stdout, stderr, "cannot load Missing.dll")
    else:
        sys.exit("check_demo.py: unknown mode " + mode)
    if failures:
        sys.stdout.write(stdout)
        sys.stderr.write(stderr)
        for failure in failures:
            print("FAILED: " + failure)
        sys.exit(1)


main()
