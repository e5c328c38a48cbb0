#!/usr/bin/env python3
"""process_faults.py - faults around the built program, seen from outside.

Each case runs the program as a process under a fault: a full device, standard
output full, closed or a broken pipe, an output folder that is missing or
read-only, a delete that fails, an output file locked by another process, an
environment value and arguments far beyond the limits, random key bytes through a
pipe and through a pseudo-terminal, a terminal resized during editing, SIGTERM
and SIGHUP during editing. Each checks the exit status, what standard output
shows, what became of the output file, that nothing went to standard error, and
on a terminal that the terminal's mode is as it was before the run.

Usage: process_faults.py --kestin PATH --work DIR GROUP
GROUP is files, stdout, input or terminal. Exit status 0 when every case passed
(skipped cases count as passed), 1 otherwise.
"""

import argparse
import fcntl
import itertools
import os
import pty
import random
import select
import shutil
import signal
import stat
import struct
import subprocess
import sys
import termios
import time

RUN_LIMIT = 120  # seconds one run may take before it counts as hung

CANNOT_OPEN = b"Cannot open file for output\r\nUse -h for help\r\n"


class CaseFailed(Exception):
    pass


class CaseSkipped(Exception):
    pass


def check(condition, message):
    if not condition:
        raise CaseFailed(message)


def expect_report(output, number, before=b""):
    """The output is `before` followed by the failure report for number."""
    head = before + b"Runtime error %d at 0x" % number
    check(output.startswith(head), "expected %r, got %r" % (head, output[:200]))
    check(output.endswith(b"\r\n\r\n"), "the report does not end with an empty line: %r" % output[-40:])


class Harness:
    def __init__(self, kestin, work):
        self.kestin = os.path.abspath(kestin)
        self.work = os.path.abspath(work)
        self.passed = 0
        self.failed = 0
        self.skipped = 0
        self.case_dir = None

    def case(self, name, body):
        self.case_dir = os.path.join(self.work, name)
        if os.path.exists(self.case_dir):
            for root, dirs, _ in os.walk(self.case_dir):
                for d in dirs:
                    os.chmod(os.path.join(root, d), 0o755)
            shutil.rmtree(self.case_dir)
        os.makedirs(self.case_dir)
        os.chmod(self.case_dir, 0o755)
        try:
            body()
        except CaseSkipped as skip:
            self.skipped += 1
            print("skip [%s]: %s" % (name, skip))
        except CaseFailed as failure:
            self.failed += 1
            print("FAIL [%s]: %s" % (name, failure))
        else:
            self.passed += 1
            print("ok   [%s]" % name)
        sys.stdout.flush()

    def path(self, *parts):
        return os.path.join(self.case_dir, *parts)

    def environment(self, value):
        env = dict(os.environ)
        env.pop("NAME", None)
        if value is not None:
            env["NAME"] = value
        env["LANG"] = env["LC_ALL"] = "C"
        return env

    def run(self, args, keys=b"", value=None, stdout=subprocess.PIPE, stdin=None, program=None,
            prefix=(), shell_redirect=None):
        """Runs the program in the case folder; returns (status, stdout, stderr).
        shell_redirect runs it through sh with that redirection (e.g. '>&-')."""
        command = list(prefix) + [program or self.kestin] + list(args)
        if shell_redirect is not None:
            command = ["sh", "-c", 'exec "$@" ' + shell_redirect, "sh"] + command
        try:
            result = subprocess.run(command, input=None if stdin is not None else keys,
                                    stdin=stdin, stdout=stdout, stderr=subprocess.PIPE,
                                    cwd=self.case_dir, env=self.environment(value),
                                    timeout=RUN_LIMIT)
        except subprocess.TimeoutExpired:
            raise CaseFailed("the program did not end within %d seconds" % RUN_LIMIT)
        check(result.returncode >= 0, "ended by signal %d" % -result.returncode)
        check(result.stderr == b"", "standard error was written: %r" % result.stderr[:300])
        return result.returncode, result.stdout if result.stdout is not None else b"", result.stderr

    def read_file(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def write_file(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)

    def unprivileged(self):
        """The command prefix that runs a program as the user nobody when running as
        root, so that permissions hold; a copy of the program nobody can reach. Skips
        the case where that is impossible."""
        copy = self.path("kestin-copy")
        shutil.copy(self.kestin, copy)
        os.chmod(copy, 0o755)
        if os.geteuid() != 0:
            return (), copy
        if shutil.which("setpriv") is None:
            raise CaseSkipped("running as root without setpriv")
        prefix = ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups")
        probe = subprocess.run(list(prefix) + ["true"], stderr=subprocess.DEVNULL)
        if probe.returncode != 0:
            raise CaseSkipped("setpriv cannot change to the user nobody here")
        # nobody must reach the case folder through its parents.
        folder = self.case_dir
        while folder != "/":
            mode = os.stat(folder).st_mode
            if not mode & stat.S_IXOTH:
                raise CaseSkipped("%s is not open to other users" % folder)
            folder = os.path.dirname(folder)
        return prefix, copy


# ---------------------------------------------------------------------------
# files: the output file on a full device, a missing or read-only folder, a delete
# that fails, a file held by another process

def group_files(h):
    def output_on_full_device():
        # A character device is written at once: the failed write is reported.
        status, out, _ = h.run(["-v", "name", "-f", "/dev/full", "-p", "P: "], b"\r", value="abc")
        check(status == 101, "status %d" % status)
        expect_report(out, 101, b"P: abc\r\n")
        check(stat.S_ISCHR(os.stat("/dev/full").st_mode), "/dev/full is no longer a device")
    h.case("output-on-full-device", output_on_full_device)

    def device_never_deleted():
        # Ctrl+C and an empty line delete the output file, but never a device, even
        # reached through a link and whoever runs the program.
        os.symlink("/dev/full", h.path("device-link"))
        for keys, expected in ((b"x\x03", 1), (b"\x1b\r", 2)):
            status, out, _ = h.run(["-v", "name", "-f", "device-link"], keys, value="abc")
            check(status == expected, "status %d, expected %d" % (status, expected))
            check(os.path.islink(h.path("device-link")), "the link to the device was deleted")
        check(stat.S_ISCHR(os.stat("/dev/full").st_mode), "/dev/full is no longer a device")
    h.case("device-never-deleted", device_never_deleted)

    def folder_missing():
        status, out, _ = h.run(["-v", "name", "-f", "missing/out.bat", "-p", "P: "], b"abc\r", value="x")
        check(status == 3, "status %d" % status)
        check(out == CANNOT_OPEN, "output %r" % out)
        check(not os.path.exists(h.path("missing")), "the folder was created")
    h.case("folder-missing", folder_missing)

    def folder_read_only():
        prefix, program = h.unprivileged()
        os.mkdir(h.path("locked"))
        os.chmod(h.path("locked"), 0o555)
        if subprocess.run(list(prefix) + ["sh", "-c", ": > locked/probe"], cwd=h.case_dir,
                          stderr=subprocess.DEVNULL).returncode == 0:
            raise CaseSkipped("the folder cannot be made read-only for this user")
        status, out, _ = h.run(["-v", "name", "-f", "locked/out.bat", "-p", "P: "], b"abc\r",
                               value="x", prefix=prefix, program=program)
        check(status == 3, "status %d" % status)
        check(out == CANNOT_OPEN, "output %r" % out)
        check(os.listdir(h.path("locked")) == [], "something was created in the folder")
    h.case("folder-read-only", folder_read_only)

    def delete_fails():
        # The file can be written but not deleted: the failure's number (5, access
        # denied) is the status, and the file stays, emptied.
        prefix, program = h.unprivileged()
        os.mkdir(h.path("locked"))
        h.write_file("locked/out.bat", b"SET OLD=1\r\n")
        os.chmod(h.path("locked/out.bat"), 0o666)
        os.chmod(h.path("locked"), 0o555)
        if subprocess.run(list(prefix) + ["sh", "-c", ": > locked/probe"], cwd=h.case_dir,
                          stderr=subprocess.DEVNULL).returncode == 0:
            raise CaseSkipped("the folder cannot be made read-only for this user")
        for keys, value, before in ((b"ab\x03", "x", b"P: xab^C\r\n"), (b"\r", None, b"P: \r\n")):
            status, out, _ = h.run(["-v", "name", "-f", "locked/out.bat", "-p", "P: "], keys,
                                   value=value, prefix=prefix, program=program)
            check(status == 5, "status %d" % status)
            expect_report(out, 5, before)
            check(h.read_file("locked/out.bat") == b"", "the file is not left empty")
    h.case("delete-fails", delete_fails)

    def file_held_by_another_process():
        # Another process holds the existing file locked: it cannot be opened, and
        # what it holds is not touched. Once the lock is gone the run succeeds.
        h.write_file("out.bat", b"SET OLD=1\r\n")
        holder = subprocess.Popen(
            [sys.executable, "-c",
             "import fcntl,sys\n"
             "f=open(sys.argv[1],'rb')\n"
             "fcntl.flock(f, fcntl.LOCK_EX)\n"
             "print('locked', flush=True)\n"
             "sys.stdin.read()\n", h.path("out.bat")],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            check(holder.stdout.readline() == b"locked\n", "the helper could not lock the file")
            status, out, _ = h.run(["-v", "name", "-f", "out.bat", "-p", "P: "], b"abc\r", value="x")
            check(status == 3, "status %d" % status)
            check(out == CANNOT_OPEN, "output %r" % out)
            check(h.read_file("out.bat") == b"SET OLD=1\r\n", "the locked file was changed")
        finally:
            holder.stdin.close()
            holder.wait(timeout=30)
        status, out, _ = h.run(["-v", "name", "-f", "out.bat"], b"\r", value="x")
        check(status == 0 and h.read_file("out.bat") == b"SET NAME=x\r\n", "no run after the lock")
    h.case("file-held-by-another-process", file_held_by_another_process)

    def output_file_is_a_standard_stream():
        # The output file is the file standard output or input already is: the
        # process holds it itself, so it cannot be opened without sharing. Standard
        # output gets the refusal; the file never holds prompt and echo around a line.
        with open(h.path("out.bat"), "wb") as out_file:
            status, _, _ = h.run(["-v", "name", "-f", "out.bat", "-p", "Please enter the name: "],
                                 b"abc\r", value="Bob", stdout=out_file)
        check(status == 3, "standard output: status %d" % status)
        check(h.read_file("out.bat") == CANNOT_OPEN, "out.bat holds %r" % h.read_file("out.bat"))
        h.write_file("keys.bat", b"abc\r")
        with open(h.path("keys.bat"), "rb") as keys_file:
            status, out, _ = h.run(["-v", "name", "-f", "keys.bat"], value="Bob", stdin=keys_file)
        check(status == 3 and out == CANNOT_OPEN, "standard input: status %d, %r" % (status, out))
        check(h.read_file("keys.bat") == b"abc\r", "the input file was changed")
    h.case("output-file-is-a-standard-stream", output_file_is_a_standard_stream)


# ---------------------------------------------------------------------------
# stdout: standard output full, closed, or a pipe nobody reads

def group_stdout(h):
    # (name, arguments, keys, the output file afterwards: None untouched, b"" emptied)
    runs = (
        ("help", ["/?"], b"", None),
        ("refusal", ["-v", "name"], b"", None),
        ("prompt", ["-v", "name", "-f", "out.bat", "-p", "P: "], b"abc\r", b""),
        ("echo", ["-v", "name", "-f", "out.bat"], b"abc\r", b""),
    )
    old = b"SET OLD=1\r\n"

    def stdout_fails(how):
        def body():
            for name, args, keys, after in runs:
                h.write_file("out.bat", old)
                if how == "full":
                    with open("/dev/full", "wb") as full:
                        status, out, _ = h.run(args, keys, value="x", stdout=full)
                elif how == "closed":
                    status, out, _ = h.run(args, keys, value="x", stdout=None, shell_redirect=">&-")
                else:
                    reader, writer = os.pipe()
                    os.close(reader)  # nobody will ever read: a write gives EPIPE
                    try:
                        status, out, _ = h.run(args, keys, value="x", stdout=writer)
                    finally:
                        os.close(writer)
                check(status == 101, "%s: status %d" % (name, status))
                expected = old if after is None else after
                check(h.read_file("out.bat") == expected,
                      "%s: out.bat holds %r" % (name, h.read_file("out.bat")))
        return body

    h.case("stdout-full", stdout_fails("full"))
    h.case("stdout-closed", stdout_fails("closed"))
    h.case("stdout-broken-pipe", stdout_fails("pipe"))

    def stdin_closed():
        # No input at all counts as the end of the input: Ctrl+C, the file deleted.
        h.write_file("out.bat", old)
        status, out, _ = h.run(["-v", "name", "-f", "out.bat", "-p", "P: "], value="x",
                               stdin=subprocess.DEVNULL, shell_redirect="<&-")
        check(status == 1, "status %d" % status)
        check(out == b"P: x^C\r\n", "output %r" % out)
        check(not os.path.exists(h.path("out.bat")), "out.bat was not deleted")
    h.case("stdin-closed", stdin_closed)


# ---------------------------------------------------------------------------
# input: an environment value and arguments far beyond the limits, random key bytes

def check_value_file(h, status, value_checks):
    """After a run ending 0, out.bat holds one line SET NAME=value CR LF; after 1 or
    2 it is gone. Returns the value (or None)."""
    check(status in (0, 1, 2), "status %d" % status)
    if status != 0:
        check(not os.path.exists(h.path("out.bat")), "out.bat not deleted after status %d" % status)
        return None
    data = h.read_file("out.bat")
    check(data.startswith(b"SET NAME=") and data.endswith(b"\r\n"), "out.bat holds %r" % data[:80])
    value = data[len(b"SET NAME="):-2]
    check(value != b"", "status 0 with an empty value")
    for name, ok in value_checks:
        check(ok(value), "the value breaks %s: %r" % (name, value[:80]))
    return value


def group_input(h):
    def long_environment_value():
        # A value beyond 2040 characters is not taken: the line starts empty, so Enter
        # at once is an empty line.
        h.write_file("out.bat", b"old\r\n")
        status, out, _ = h.run(["-v", "name", "-f", "out.bat", "-p", "P: "], b"\r", value="v" * 5000)
        check(status == 2, "status %d" % status)
        check(out == b"P: \r\n", "output %r" % out[:100])
        check(not os.path.exists(h.path("out.bat")), "out.bat not deleted")
        # Exactly 2040 characters are taken whole.
        status, out, _ = h.run(["-v", "name", "-f", "out.bat"], b"\r", value="w" * 2040)
        check(status == 0 and h.read_file("out.bat") == b"SET NAME=" + b"w" * 2040 + b"\r\n",
              "a value of 2040 characters was not kept whole")
    h.case("environment-value-of-5000-characters", long_environment_value)

    def long_arguments(length):
        def body():
            long_prompt = "p" * (length - 1) + "P"
            long_name = "n" * length
            # The prompt is cut to 255 characters.
            status, out, _ = h.run(["-v", "name", "-f", "out.bat", "-p", long_prompt], b"\r", value="v")
            check(status == 0, "status %d" % status)
            check(out == long_prompt[:255].encode() + b"v\r\n", "output %r" % out[:300])
            # The name is cut to 255 characters and looked up so.
            env_name = long_name[:255].upper()
            env = h.environment(None)
            env[env_name] = "value"
            result = subprocess.run([h.kestin, "-v", long_name, "-f", "out.bat"], input=b"\r",
                                    capture_output=True, cwd=h.case_dir, env=env, timeout=RUN_LIMIT)
            check(result.returncode == 0, "status %d" % result.returncode)
            check(h.read_file("out.bat") == b"SET " + env_name.encode() + b"=value\r\n",
                  "out.bat holds %r" % h.read_file("out.bat")[:300])
            # An output file name is cut to 255 characters as well.
            status, out, _ = h.run(["-v", "name", "-f", "f" * length], b"\r", value="v")
            check(status == 0, "status %d" % status)
            check(h.read_file("f" * 255) == b"SET NAME=v\r\n", "the cut name was not written")
            # A long word that is no option is passed over; a long -l value is refused.
            status, out, _ = h.run(["x" * length, "-v", "name", "-f", "out.bat"], b"\r", value="w")
            check(status == 0 and h.read_file("out.bat") == b"SET NAME=w\r\n", "a long word disturbed the run")
            status, out, _ = h.run(["-v", "name", "-f", "out.bat", "-l", "1" * length], b"\r", value="w")
            check(status == 3 and out == b"Invalid maximum length specified\r\nUse -h for help\r\n",
                  "a long -l value: status %d, %r" % (status, out))
        return body
    h.case("arguments-of-300-characters", long_arguments(300))
    h.case("arguments-of-100000-characters", long_arguments(100000))

    def random_stream(seed, options, filtered):
        def body():
            rng = random.Random(seed)
            data = bytes(rng.randrange(256) for _ in range(100000))
            if filtered:
                # Without Enter and Ctrl+C the whole stream is edited, then Enter.
                data = data.translate(None, b"\x03\r\n") + b"\r"
            status, out, _ = h.run(["-v", "name", "-f", "out.bat"] + options, data, value="start")
            checks = [("the limit", lambda v: len(v) <= (10 if "-l" in options else 2040))]
            if "-n" in options:
                checks.append(("numeric input", lambda v: v.isdigit()))
            if "-u" in options:
                checks.append(("upper case", lambda v: not any(97 <= c <= 122 for c in v)))
            check_value_file(h, status, checks)
        return body
    h.case("random-stream-raw", random_stream(1, [], False))
    h.case("random-stream-edited-whole", random_stream(2, [], True))
    h.case("random-stream-limit-upper-overtype", random_stream(3, ["-l", "10", "-u", "-o"], True))
    h.case("random-stream-numeric-at-start", random_stream(4, ["-n", "-b"], True))
    h.case("random-stream-masked", random_stream(5, ["-m"], True))

    def signal_while_waiting(signal_number):
        # Ended from outside while it waits for a key: the file stays, created and empty.
        def body():
            h.write_file("out.bat", b"old\r\n")
            reader, writer = os.pipe()
            process = subprocess.Popen([h.kestin, "-v", "name", "-f", "out.bat", "-p", "P: "],
                                       stdin=reader, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                       cwd=h.case_dir, env=h.environment("x"))
            os.close(reader)
            try:
                os.write(writer, b"ab")
                check(read_until(process.stdout.fileno(), b"P: xab", 30), "no echo of the keys")
                process.send_signal(signal_number)
                process.wait(timeout=30)
            finally:
                os.close(writer)
                if process.poll() is None:
                    process.kill()
                    process.wait()
            check(process.returncode == -signal_number, "status %d" % process.returncode)
            check(h.read_file("out.bat") == b"", "out.bat holds %r" % h.read_file("out.bat"))
        return body
    h.case("sigterm-while-reading-a-pipe", signal_while_waiting(signal.SIGTERM))
    h.case("sighup-while-reading-a-pipe", signal_while_waiting(signal.SIGHUP))


def read_until(fd, wanted, seconds, sink=None):
    """Reads fd until wanted has been seen; True when it was within the time."""
    seen = b""
    deadline = time.monotonic() + seconds
    while wanted not in seen:
        left = deadline - time.monotonic()
        if left <= 0:
            return False
        ready, _, _ = select.select([fd], [], [], left)
        if not ready:
            continue
        try:
            chunk = os.read(fd, 65536)
        except OSError:
            return False
        if not chunk:
            return False
        seen += chunk
        if sink is not None:
            sink.append(chunk)
    return True


# ---------------------------------------------------------------------------
# terminal: the program on a pseudo-terminal

class Terminal:
    """The program on a new pseudo-terminal of its own (its controlling terminal),
    with this side answering the cursor-position question and reading everything
    it writes."""

    def __init__(self, h, args, value, columns=80, rows=24, answer=True, odd_mode=False):
        self.h = h
        self.answer = answer  # whether ESC [ 6 n is answered
        self.master, self.slave = pty.openpty()
        self.set_size(columns, rows)
        if odd_mode:
            # A mode no terminal starts in, so that only a true restore gives it back.
            mode = termios.tcgetattr(self.slave)
            mode[0] |= termios.IXANY | termios.IMAXBEL
            mode[3] &= ~(termios.ECHOE | termios.ECHOK)
            mode[6][termios.VMIN] = 7
            mode[6][termios.VTIME] = 3
            mode[6][termios.VERASE] = b"\x08"
            termios.tcsetattr(self.slave, termios.TCSANOW, mode)
        self.mode_before = termios.tcgetattr(self.slave)
        self.output = bytearray()
        self.mark = 0  # where the output after the last keys sent begins
        slave = self.slave

        def child_setup():
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)

        self.process = subprocess.Popen([h.kestin] + args, stdin=slave, stdout=slave, stderr=slave,
                                        cwd=h.case_dir, env=dict(h.environment(value), TERM="xterm"),
                                        preexec_fn=child_setup)

    def set_size(self, columns, rows):
        fcntl.ioctl(self.master, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))

    def pump(self, seconds):
        """Reads what the program wrote, answering ESC [ 6 n: everything already
        there, then whatever comes within seconds."""
        deadline = time.monotonic() + seconds
        while True:
            left = max(0.0, deadline - time.monotonic())
            ready, _, _ = select.select([self.master], [], [], left)
            if not ready:
                return
            try:
                chunk = os.read(self.master, 65536)
            except OSError:
                return
            if not chunk:
                return
            pending = bytes(self.output[-3:]) + chunk
            self.output += chunk
            if self.answer and b"\x1b[6n" in pending:
                os.write(self.master, b"\x1b[1;1R")

    def wait_for(self, text, seconds=30):
        """Reads until text has been written after the last keys sent (or the start)."""
        deadline = time.monotonic() + seconds
        start = self.mark
        while self.output.find(text, start) < 0:
            if time.monotonic() > deadline or self.process.poll() is not None:
                self.pump(0.2)
                if self.output.find(text, start) >= 0:
                    return
                raise CaseFailed("%r never shown; output ends %r" % (text, bytes(self.output[-200:])))
            self.pump(0.1)

    def send(self, data):
        """Writes keys in pieces, reading the echo meanwhile so that neither side blocks."""
        self.mark = len(self.output)
        view = memoryview(data)
        while view:
            ready_read, ready_write, _ = select.select([self.master], [self.master], [], 10)
            if ready_read:
                self.pump(0)
            if ready_write:
                written = os.write(self.master, view[:256])
                view = view[written:]
            elif not ready_read:
                raise CaseFailed("the program stopped taking keys")

    def finish(self, seconds=RUN_LIMIT):
        """Waits for the end; returns the status (negative: the ending signal)."""
        deadline = time.monotonic() + seconds
        while self.process.poll() is None:
            if time.monotonic() > deadline:
                self.process.kill()
                self.process.wait()
                raise CaseFailed("the program did not end; output ends %r" % bytes(self.output[-200:]))
            self.pump(0.1)
        self.pump(0.2)
        return self.process.returncode

    def check_mode_restored(self):
        after = termios.tcgetattr(self.slave)
        check(after == self.mode_before, "the terminal mode was not restored: before %r, after %r"
              % (self.mode_before[:4], after[:4]))

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        os.close(self.master)
        os.close(self.slave)


def group_terminal(h):
    def on_terminal(args, value, body, **size):
        term = Terminal(h, args, value, **size)
        try:
            body(term)
        finally:
            term.close()

    def random_keys(seed, options, value):
        def body():
            rng = random.Random(seed)
            data = bytes(rng.randrange(256) for _ in range(100000))
            # Without Ctrl+C and Enter the whole stream is edited; Enter ends it. Ctrl+Z
            # and Ctrl+\ are plain keys in raw mode and stay in.
            data = data.translate(None, b"\x03\r\n")

            def drive(term):
                term.wait_for(value.encode())
                term.send(data)
                term.pump(0.2)
                term.send(b"\r")
                status = term.finish()
                checks = [("the limit", lambda v: len(v) <= (10 if "-l" in options else 2040))]
                if "-n" in options:
                    checks.append(("numeric input", lambda v: v.isdigit()))
                check_value_file(h, status, checks)
                term.check_mode_restored()
            on_terminal(["-v", "name", "-f", "out.bat", "-p", "P: "] + options, value, drive)
        return body
    h.case("random-keys-on-a-terminal", random_keys(11, [], "start"))
    h.case("random-keys-on-a-terminal-limit-numeric", random_keys(12, ["-l", "10", "-n", "-o"], "123"))

    def resized():
        # A narrower window while editing: the edit goes on and ends normally.
        def drive(term):
            term.wait_for(b"init")
            term.send(b"\x7f\x7f\x7f\x7fabc")
            term.wait_for(b"c")
            term.set_size(20, 5)
            os.killpg(term.process.pid, signal.SIGWINCH)
            term.pump(0.2)
            term.send(b"def" + b"g" * 40 + b"\r")
            status = term.finish()
            check(status == 0, "status %d" % status)
            check(h.read_file("out.bat") == b"SET NAME=abcdef" + b"g" * 40 + b"\r\n",
                  "out.bat holds %r" % h.read_file("out.bat"))
            term.check_mode_restored()
        on_terminal(["-v", "name", "-f", "out.bat", "-p", "P: "], "init", drive)
    h.case("terminal-resized-while-editing", resized)

    def odd_window_sizes():
        # Windows of no size, a single cell, a few cells and the largest size, each
        # shrunk to one cell while editing: the edit comes out the same.
        expected = b"SET NAME=" + b"q" * 100 + b"inixyzabc\r\n"
        for columns, rows in ((0, 0), (1, 1), (2, 1), (1, 3), (3, 2), (80, 1), (65535, 65535)):
            def drive(term):
                term.pump(1.0)  # the start-up, whatever the prompt's wrapping
                term.send(b"\x7fabc" + b"\x1b[D" * 3 + b"xyz")
                term.pump(0.3)
                term.set_size(1, 1)
                os.killpg(term.process.pid, signal.SIGWINCH)
                term.send(b"\x1b[H" + b"q" * 100 + b"\r")
                status = term.finish(60)
                check(status == 0, "%dx%d: status %d" % (columns, rows, status))
                check(h.read_file("out.bat") == expected,
                      "%dx%d: out.bat holds %r" % (columns, rows, h.read_file("out.bat")))
                term.check_mode_restored()
            on_terminal(["-v", "name", "-f", "out.bat", "-p", "Prompt: "], "init", drive,
                        columns=columns, rows=rows)
    h.case("odd-window-sizes", odd_window_sizes)

    def cursor_question_unanswered():
        # A terminal that never answers where its cursor is, or answers only after the
        # program gave up waiting: editing works, and the late answer is no key.
        for late in (False, True):
            def drive(term):
                term.pump(1.5 if not late else 0.1)
                if late:
                    time.sleep(1.0)
                    os.write(term.master, b"\x1b[5;7R")
                term.send(b"x")
                term.pump(0.2)
                term.send(b"\r")
                status = term.finish(60)
                check(status == 0, "status %d" % status)
                check(h.read_file("out.bat") == b"SET NAME=initx\r\n",
                      "out.bat holds %r" % h.read_file("out.bat"))
                term.check_mode_restored()
            on_terminal(["-v", "name", "-f", "out.bat", "-p", "P: "], "init", drive, answer=False)
    h.case("cursor-question-unanswered-or-late", cursor_question_unanswered)

    def ended_by(signal_number):
        def body():
            def drive(term):
                term.wait_for(b"init")
                term.send(b"xy")
                term.wait_for(b"y")
                os.kill(term.process.pid, signal_number)
                status = term.finish(30)
                check(status == -signal_number, "status %d" % status)
                check(h.read_file("out.bat") == b"", "out.bat holds %r" % h.read_file("out.bat"))
                term.check_mode_restored()
            on_terminal(["-v", "name", "-f", "out.bat", "-p", "P: "], "init", drive, odd_mode=True)
        return body

    def terminal_closed():
        # The terminal goes away (its window closed) while editing: the program ends
        # as a hang-up ends it, and the file stays, created and empty.
        def drive(term):
            term.wait_for(b"init")
            term.send(b"xy")
            term.wait_for(b"y")
            os.close(term.master)
            term.master = os.open("/dev/null", os.O_RDONLY)  # for close()
            try:
                status = term.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                raise CaseFailed("the program did not end after its terminal closed")
            check(status == -signal.SIGHUP, "status %d" % status)
            check(h.read_file("out.bat") == b"", "out.bat holds %r" % h.read_file("out.bat"))
        on_terminal(["-v", "name", "-f", "out.bat", "-p", "P: "], "init", drive)
    h.case("terminal-closed-while-editing", terminal_closed)
    h.case("sigterm-while-editing", ended_by(signal.SIGTERM))
    h.case("sighup-while-editing", ended_by(signal.SIGHUP))
    h.case("sigint-from-outside-while-editing", ended_by(signal.SIGINT))

    def ctrl_c_restores():
        # The usual endings restore the mode as well, the terminal's own or an odd one.
        # Esc comes alone: Esc with a byte right behind it is that key with Alt.
        for (keys, expected), odd in itertools.product(
                (([b"\x03"], 1), ([b"\x1b", b"\r"], 2), ([b"\r"], 0)), (False, True)):
            def drive(term):
                term.wait_for(b"init")
                for piece in keys:
                    term.send(piece)
                    term.pump(0.2)
                status = term.finish(30)
                check(status == expected, "status %d, expected %d" % (status, expected))
                term.check_mode_restored()
            on_terminal(["-v", "name", "-f", "out.bat"], "init", drive, odd_mode=odd)
    h.case("terminal-mode-restored-at-every-end", ctrl_c_restores)


GROUPS = {"files": group_files, "stdout": group_stdout, "input": group_input,
          "terminal": group_terminal}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kestin", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("group", choices=sorted(GROUPS))
    options = parser.parse_args()
    work = os.path.join(options.work, options.group)
    os.makedirs(work, exist_ok=True)
    os.chmod(options.work, 0o755)
    os.chmod(work, 0o755)
    h = Harness(options.kestin, work)
    GROUPS[options.group](h)
    print("%d passed, %d failed, %d skipped" % (h.passed, h.failed, h.skipped))
    return 1 if h.failed else 0


if __name__ == "__main__":
    sys.exit(main())
