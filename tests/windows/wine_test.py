#!/usr/bin/env python3
"""wine_test.py - runs kestin.exe under Wine for CTest: the imports, and whole runs.

Usage: wine_test.py --exe KESTIN_EXE --prefix DIR --work DIR STEP
The prefix DIR is made beforehand (by the CTest fixture wine.prefix).
STEP is one of:
  imports       checks that kestin.exe needs no DLL beyond KERNEL32 and msvcrt
  run:NAME      one row of RUNS below: kestin.exe with its arguments, environment and
                standard input, checked for status, standard output and the output file
Every Wine process is bounded by timeout(1), so a program that waits for ever fails the test
instead of hanging it.
"""

import argparse
import os
import shutil
import subprocess
import sys

# Seconds a single run of kestin.exe may take, and the first start of Wine that builds a prefix.
RUN_LIMIT = 60
PREFIX_LIMIT = 600

# The help's lines 1 to 23, as far as they are fixed (line 1 ends with a notice of the program's own).
HELP_FIRST_LINE_START = b"Kestin * Version 6 * "
HELP_USAGE_LINE = b"Usage: kestin -v var -f filename [-l length] [-p prompt] [-b] [-m] [-n] [-o]"
HELP_LINE_COUNT = 23

# Whole runs. Each row: arguments; environment variables added for the run; bytes on standard
# input (a pipe); files placed in the working folder before the run; the expected status;
# the expected standard output (exact bytes, or a procedure that checks it); and the expected
# output files afterwards (name -> exact bytes, or None for a file that must not exist).
RUNS = {
    # "/?" first: the 23 help lines, each ended by CR LF, and status 0.
    "help": dict(
        args=["/?"],
        status=0,
        stdout=lambda out, exe: check_help(out),
    ),
    # No arguments: the variable-name refusal and the hint, status 3.
    "no-arguments": dict(
        args=[],
        status=3,
        stdout=b"Environment variable name not specified\r\nUse -h for help\r\n",
    ),
    # Enter at once on a piped standard input: the SET line with the variable's value.
    "enter-keeps-value": dict(
        args=["-v", "NAME", "-f", "out.bat"],
        env={"NAME": "abc"},
        stdin=b"\r",
        status=0,
        files={"out.bat": b"SET NAME=abc\r\n"},
    ),
    # Ctrl+C (the byte 3): status 1, and the output file, which existed before, is deleted.
    "ctrl-c-deletes-file": dict(
        args=["-v", "NAME", "-f", "out.bat"],
        env={"NAME": "abc"},
        stdin=b"\x03",
        before={"out.bat": b"old contents\r\n"},
        status=1,
        files={"out.bat": None},
    ),
    # A name written with "/" is created with "\" separators, which Wine maps onto the folder.
    "slash-separated-name": dict(
        args=["-v", "name", "-f", "sub/out.bat"],
        env={"NAME": "x y"},
        stdin=b"\r",
        before={"sub/keep.txt": b""},
        status=0,
        files={"sub/out.bat": b"SET NAME=x y\r\n"},
    ),
    # An output file in a folder that does not exist: refused before anything is read.
    "cannot-create-file": dict(
        args=["-v", "NAME", "-f", "missing/out.bat"],
        env={"NAME": "abc"},
        stdin=b"\r",
        status=3,
        stdout=b"Cannot open file for output\r\nUse -h for help\r\n",
        files={"missing/out.bat": None},
    ),
    # A write to the output file that fails (the disk-full device): the failure report on
    # standard output and status 101. Every code address must lie inside kestin.exe, so that
    # the program's map can name it; Wine's unwinder hands out nonsense beyond the image.
    "failed-write-report": dict(
        args=["-v", "NAME", "-f", "/dev/full"],
        env={"NAME": "abc"},
        stdin=b"\r",
        status=101,
        stdout=lambda out, exe: check_failure_report(out, exe, 101),
    ),
}


class Failure(Exception):
    """A check that did not hold; its text says what was expected and what came."""


def check_help(out):
    lines = out.split(b"\r\n")
    if lines[-1] != b"":
        raise Failure("the help does not end with CR LF: %r" % out[-40:])
    lines = lines[:-1]
    if len(lines) != HELP_LINE_COUNT:
        raise Failure("the help has %d lines, not %d:\n%s" % (len(lines), HELP_LINE_COUNT, out.decode("latin-1")))
    if any(b"\n" in line or b"\r" in line for line in lines):
        raise Failure("a help line ends with a bare CR or LF")
    if not lines[0].startswith(HELP_FIRST_LINE_START) or lines[2] != HELP_USAGE_LINE:
        raise Failure("unexpected help text:\n%s" % out.decode("latin-1"))


def image_size(exe):
    """SizeOfImage from the PE header of exe, as objdump shows it."""
    objdump = shutil.which("x86_64-w64-mingw32-objdump") or shutil.which("objdump")
    if objdump is None:
        raise Failure("no objdump found to read the image size")
    result = subprocess.run([objdump, "-p", exe], capture_output=True, check=True)
    for line in result.stdout.decode("latin-1").splitlines():
        if line.startswith("SizeOfImage"):
            return int(line.split()[1], 16)
    raise Failure("objdump shows no SizeOfImage for %s" % exe)


def check_failure_report(out, exe, number):
    """The report after what the run echoed: "Runtime error N at 0x........", the place again,
    at least one call line, then an empty line; every address an offset inside the image."""
    text = out.decode("latin-1")
    start = text.find("Runtime error ")
    if start < 0:
        raise Failure("no failure report in %r" % out)
    lines = text[start:].split("\r\n")
    head = "Runtime error %d at 0x" % number
    if not lines[0].startswith(head) or lines[1] != "  0x" + lines[0][len(head):]:
        raise Failure("unexpected report head %r" % lines[:2])
    if lines[-2:] != ["", ""] or len(lines) < 5:
        raise Failure("the report does not end with its call lines and an empty line: %r" % lines)
    size = image_size(exe)
    for line in lines[1:-2]:
        digits = line[len("  0x"):]
        if not line.startswith("  0x") or len(digits) != 8 or digits != digits.upper():
            raise Failure("malformed report line %r" % line)
        if int(digits, 16) >= size:
            raise Failure("address %s lies outside kestin.exe (image size 0x%X): %r" % (digits, size, lines))


def wine_environment(prefix):
    """The environment of every Wine process: the test's own prefix, no debug chatter, no
    display, and no offer to install Mono or Gecko while the prefix is made."""
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    env["WINEPREFIX"] = prefix
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    return env


def bounded(command, limit):
    """command run under timeout(1), killed a few seconds after limit if it ignores the signal."""
    return ["timeout", "-k", "5", str(limit)] + command


def make_prefix(prefix, env):
    """Creates the prefix once, with the Wine environment env; a marker written at the end tells
    later runs that it is complete."""
    marker = os.path.join(prefix, ".kestin-prefix-ready")
    if os.path.exists(marker):
        return
    os.makedirs(prefix, exist_ok=True)
    result = subprocess.run(bounded(["wineboot", "-i"], PREFIX_LIMIT), env=env,
                            stdin=subprocess.DEVNULL, capture_output=True)
    if result.returncode != 0:
        raise Failure("wineboot -i ended with status %d:\n%s" % (result.returncode, result.stderr.decode("latin-1")))
    # Wait until the server has written the new registry, so the prefix is whole on disk.
    subprocess.run(bounded(["wineserver", "-w"], PREFIX_LIMIT), env=env, stdin=subprocess.DEVNULL,
                   capture_output=True)
    with open(marker, "w") as f:
        f.write("initialised\n")


def check_imports(exe):
    objdump = shutil.which("x86_64-w64-mingw32-objdump") or shutil.which("objdump")
    if objdump is None:
        raise Failure("no objdump found to read the imports")
    result = subprocess.run([objdump, "-p", exe], capture_output=True, check=True)
    names = sorted(line.split(b"DLL Name:")[1].strip().decode().lower()
                   for line in result.stdout.splitlines() if b"DLL Name:" in line)
    if names != ["kernel32.dll", "msvcrt.dll"]:
        raise Failure("kestin.exe imports %s, expected only KERNEL32.dll and msvcrt.dll" % names)


def run_case(name, exe, prefix, work):
    case = RUNS.get(name)
    if case is None:
        raise Failure("no run named %r" % name)
    # Each run has a folder of its own, emptied first, so runs in parallel do not meet.
    folder = os.path.join(work, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for file_name, contents in case.get("before", {}).items():
        path = os.path.join(folder, file_name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(contents)
    env = wine_environment(prefix)
    env.update(case.get("env", {}))
    result = subprocess.run(bounded(["wine", exe] + case["args"], RUN_LIMIT), cwd=folder, env=env,
                            input=case.get("stdin", b""), capture_output=True)
    if result.returncode in (124, 137):
        raise Failure("kestin.exe did not end within %d seconds" % RUN_LIMIT)
    if result.returncode != case["status"]:
        raise Failure("status %d, expected %d; standard output:\n%r" % (result.returncode, case["status"], result.stdout))
    expected_out = case.get("stdout")
    if callable(expected_out):
        expected_out(result.stdout, exe)
    elif expected_out is not None and result.stdout != expected_out:
        raise Failure("standard output %r, expected %r" % (result.stdout, expected_out))
    for file_name, contents in case.get("files", {}).items():
        path = os.path.join(folder, file_name)
        if contents is None:
            if os.path.exists(path):
                raise Failure("%s exists after the run" % file_name)
            continue
        if not os.path.exists(path):
            raise Failure("%s was not written" % file_name)
        with open(path, "rb") as f:
            found = f.read()
        if found != contents:
            raise Failure("%s holds %r, expected %r" % (file_name, found, contents))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("step")
    options = parser.parse_args()
    # Wine needs an absolute prefix, and the runs change their working folder.
    for name in ("exe", "prefix", "work"):
        setattr(options, name, os.path.abspath(getattr(options, name)))
    try:
        if options.step == "imports":
            check_imports(options.exe)
        elif options.step.startswith("run:"):
            run_case(options.step[4:], options.exe, options.prefix, options.work)
        else:
            raise Failure("unknown step %r" % options.step)
    except Failure as failure:
        print("FAILED: %s" % failure)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
