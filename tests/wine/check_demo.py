#!/usr/bin/env python3
"""Runs the demo host headless under Wine (through run-wine.sh) and checks
what it prints.
  check_demo.py RUNNER PREFIX WORKDIR PROGRAM MODULE walk
      the walk through the portal window on the bundled sample: the start
      request, every portal's decoded captions read back from the buttons,
      the pressed entry's switch request and the channel change, in order;
      exit 0 and a BMP screenshot.
  check_demo.py ... missing-capture | not-a-capture | missing-module
      one line on stderr, nothing on stdout, a non-zero exit."""
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

failures = []


def check(condition, text):
    if not condition:
        failures.append(text)


def run(runner, prefix, workdir, program, module, *arguments):
    result = subprocess.run([runner, "run", prefix, workdir, "120", program, module, *arguments],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return (result.returncode, result.stdout.decode("utf-8", "replace"),
            result.stderr.decode("utf-8", "replace"))


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


def check_walk(status, stdout, workdir):
    check(status == 0, "exit status %d, expected 0" % status)
    lines = messages(stdout)
    expected = ['command HOST_START_FILTER (0x01020020): tag 0x5044, pid 0x0012, '
                'name "Pictolandrum"', "filter: running on PID 0x0012, handle 0x00C0FFEE"]
    for portal, captions in enumerate(SAMPLE_CAPTIONS):
        expected.append("portal window: portal %d buttons: %s" % (portal, captions))
        expected.append("press: >>")
    expected += ["portal window: portal 0 buttons: " + SAMPLE_CAPTIONS[0],
                 'press: entry 2 "Lumen Familie"',
                 "command HOST_SWITCH_SERVICE (0x01022004): lead word 208, service 210, "
                 "transport stream 4, trail word 192",
                 "channel change: transport stream 4, service 210 (On_Channel_Change)",
                 "channel: transport stream 4, service 210, filter running",
                 "screenshot: demo-screenshot.bmp"]
    check_in_order(lines, expected)
    check(first_index(lines, "tune: the capture has no") is None, "a switch was refused")
    with open(os.path.join(workdir, "demo-screenshot.bmp"), "rb") as shot:
        head = shot.read(2)
    check(head == b"BM", "the screenshot is no BMP file")


def check_failure(status, stdout, stderr, reason):
    check(status not in (0, 124), "exit status %d, expected a failure" % status)
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
                                     "--fast", "--headless", "1", "--screenshot",
                                     "demo-screenshot.bmp")
        check_walk(status, stdout, workdir)
    elif mode == "missing-capture":
        status, stdout, stderr = run(runner, prefix, workdir, program, module,
                                     "--headless", "1", "no-such-capture.ts")
        check_failure(status, stdout, stderr, "cannot open no-such-capture.ts")
    elif mode == "not-a-capture":
        status, stdout, stderr = run(runner, prefix, workdir, program, module,
                                     "--headless", "1", program)
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
