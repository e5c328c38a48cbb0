#!/usr/bin/env python3
"""console_test.py - kestin.exe in a Wine console window, typed at as a user would, for CTest.

Usage: console_test.py --exe KESTIN_EXE --screen CONSOLE_SCREEN_EXE --prefix DIR --work DIR STEP
STEP is one of:
  setup       starts an X server (Xvfb) for the console windows and makes the Wine prefix
  teardown    ends the Wine server of the prefix and the X server
  scene:NAME  one row of SCENES below

A scene writes a batch file that runs kestin.exe the way a batch author does, starts it with
wineconsole and Wine's cmd.exe on the X server, waits until the editor is up, types the scene's
keys into the console window with xdotool, and then checks what the batch file saw (the status,
the variable after CALLing the output file, whether the output file is gone) and what the user
saw (the console's rows and cursor, dumped by console_screen.exe right after kestin.exe ends).
Every wait is bounded: a stuck console is killed and reported, and the scene fails.
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_test import Failure, bounded, make_prefix, wine_environment  # noqa: E402

# Seconds for the whole console run of one scene, and for the editor to come up.
SCENE_LIMIT = 90
READY_LIMIT = 45

# The symbols of a keypad digit key in the X keymap as xkbcomp writes it: the cursor keysym
# first ([ KP_Right, KP_6 ], as X starts), or the digit first ([ KP_6, KP_Right ]).
KEYPAD_CURSOR_FIRST = r"\[\s*(KP_[A-Za-z]+)\s*,\s*(KP_[0-9])\s*\]"
KEYPAD_DIGIT_FIRST = r"\[\s*(KP_[0-9])\s*,\s*(KP_[A-Za-z]+)\s*\]"

# The console window's width, which the line wraps at.
CONSOLE_WIDTH = 80

PROMPT = "Name: "

# The scenes. Each row:
#   value    the variable's value, set by the batch file before kestin.exe runs (None: not set)
#   options  further options after -v NAME -f out.bat -p PROMPT
#   prompt   the prompt (PROMPT unless given)
#   shown    the edit line as the editor first shows it (value unless given)
#   keys     xdotool commands typed once the editor is up: ("key", keysym...) or ("type", text)
#   status   the exit status the batch file sees in ERRORLEVEL
#   result   the value written: out.bat must hold "SET NAME=" result CR LF, and after CALLing it
#            the batch file's NAME must be result. None when the run ends without writing.
#   screen   the console's rows from the prompt's row on, as the user saw them when kestin.exe ended
#   call     False when out.bat is not CALLed (cmd.exe would read the value's & < > as commands)
SCENES = {
    "enter-at-once": dict(
        value="Bob", keys=[("key", "Return")],
        status=0, result="Bob", screen=["Name: Bob"]),
    "backspace-then-type": dict(
        value="Bob", keys=[("key", "BackSpace", "BackSpace", "BackSpace"), ("type", "Alice"), ("key", "Return")],
        status=0, result="Alice", screen=["Name: Alice"]),
    "ctrl-c-aborts": dict(
        value="Bob", keys=[("type", "xy"), ("key", "ctrl+c")],
        status=1, result=None, screen=["Name: Bobxy^C"]),
    "empty-line": dict(
        value="Bob", keys=[("key", "Escape", "Return")],
        status=2, result=None, screen=["Name:"]),
    "masked": dict(
        value="Bob", options=["-m"], shown="", keys=[("type", "pw1"), ("key", "Return")],
        status=0, result="pw1", screen=["Name: ***"]),
    "numeric-only": dict(
        value=None, options=["-n"], keys=[("type", "a1b2"), ("key", "Return")],
        status=0, result="12", screen=["Name: 12"]),
    "upper-case": dict(
        value="bob", options=["-u"], shown="BOB", keys=[("type", "x1"), ("key", "Return")],
        status=0, result="BOBX1", screen=["Name: BOBX1"]),
    "overtype-and-ins": dict(
        value="abcd", options=["-o"],
        keys=[("key", "Home"), ("type", "XY"), ("key", "Insert"), ("type", "Z"), ("key", "Return")],
        status=0, result="XYZcd", screen=["Name: XYZcd"]),
    # Words are separated by blanks, TABs and semicolons.
    "word-moves": dict(
        value="ab cd;ef",
        keys=[("key", "Home", "ctrl+Right", "ctrl+Right"), ("type", "1"),
              ("key", "ctrl+Left", "ctrl+Left"), ("type", "2"), ("key", "Return")],
        status=0, result="ab 2cd;1ef", screen=["Name: ab 2cd;1ef"]),
    "deletions": dict(
        value="abcdef",
        keys=[("key", "Home", "Right", "Right", "Delete", "Right", "ctrl+End", "Left", "ctrl+Home"),
              ("type", "X"), ("key", "Return")],
        status=0, result="Xd", screen=["Name: Xd"]),
    "esc-then-ctrl-u": dict(
        value="Bob", keys=[("key", "Escape"), ("type", "zz"), ("key", "ctrl+u"), ("type", "!"), ("key", "Return")],
        status=0, result="Bob!", screen=["Name: Bob!"]),
    "function-key-ignored": dict(
        value="ab", keys=[("key", "F1", "Up", "Next"), ("type", "c"), ("key", "Return")],
        status=0, result="abc", screen=["Name: abc"]),
    # Alt held with digits on the keypad under Num Lock types the character of that decimal code
    # when Alt is released: 6 5 gives "A", 3 0 0 gives "," (300 modulo 256 is 44). The presses
    # reach kestin.exe as a Windows console reports them (VK_NUMPAD6, no character, control
    # state 0x22) thanks to the keypad keymap that the setup loads into the X server.
    "alt-keypad-composes": dict(
        value="x",
        keys=[("key", "Num_Lock"), ("keydown", "Alt_L"), ("key", "KP_6", "KP_5"), ("keyup", "Alt_L"),
              ("keydown", "Alt_L"), ("key", "KP_3", "KP_0", "KP_0"), ("keyup", "Alt_L"),
              ("key", "Num_Lock"), ("type", "y"), ("key", "Return")],
        status=0, result="xA,y", screen=["Name: xA,y"]),
    # The value reaches out.bat exactly; CALLing it would make cmd.exe run & and < > as commands.
    "special-characters": dict(
        value='1%2&3<4>5"6', keys=[("key", "Return")],
        status=0, result='1%2&3<4>5"6', screen=['Name: 1%2&3<4>5"6'], call=False),
    "typed-special-characters": dict(
        value=None, keys=[("type", '%&<>"'), ("key", "Return")],
        status=0, result='%&<>"', screen=['Name: %&<>"'], call=False),
    "prompt-with-trailing-blank": dict(
        value="v", prompt="Go ", keys=[("key", "Return")],
        status=0, result="v", screen=["Go v"]),
    # 6 + 100 characters: the line wraps past column 80 onto the next row.
    "wrapped-line": dict(
        value="0123456789" * 10, keys=[("key", "Home", "Delete", "End"), ("type", "Z"), ("key", "Return")],
        status=0, result="123456789" + "0123456789" * 9 + "Z",
        screen=[("Name: " + "123456789" + "0123456789" * 9 + "Z")[:80],
                ("Name: " + "123456789" + "0123456789" * 9 + "Z")[80:]]),
}


def state_file(work):
    return os.path.join(work, "xserver.state")


def console_environment(prefix, work):
    """Wine's environment for the console tests: their own prefix and the X server of the setup."""
    env = wine_environment(prefix)
    try:
        with open(state_file(work)) as f:
            display, _ = f.read().split()
    except (OSError, ValueError):
        raise Failure("the X server of the setup step is not running (no %s)" % state_file(work))
    env["DISPLAY"] = ":" + display
    return env


def load_keypad_keymap(env):
    """Rearranges the X server's keymap so that each keypad digit key lists its digit keysym first
    (KP_6, KP_Right instead of KP_Right, KP_6).

    Wine takes a key press's character from the keysym that X gives for the modifiers held. With
    the stock keymap, X gives KP_6 under Num Lock, and Wine reports the press of keypad 6 with Alt
    held as VK_NUMPAD6 with the character "6" (control state 0x22), where a Windows console reports
    no character; kestin.exe then takes the press as a typed digit and drops it as an Alt+keypad
    digit, so nothing is composed. Rearranged, X gives KP_Right under Num Lock, which has no
    character, and Wine reports VK_NUMPAD6, no character, control state 0x22, as Windows does.
    The price, which no other scene meets: under Num Lock a keypad digit without Alt has no
    character either, and with Num Lock off it gives the digit instead of acting as a cursor key.
    The X server must have been started with -noreset: a server that resets when its last client
    leaves would load its stock keymap again before Wine connects."""
    def read_keymap():
        result = subprocess.run(bounded(["xkbcomp", "-w", "0", env["DISPLAY"], "-"], 30), env=env,
                                stdin=subprocess.DEVNULL, capture_output=True)
        if result.returncode != 0:
            raise Failure("xkbcomp could not read the keymap: %s" % result.stderr.decode("latin-1"))
        return result.stdout.decode("latin-1")

    keymap, found = re.subn(KEYPAD_CURSOR_FIRST, r"[ \2, \1 ]", read_keymap())
    if found != 10:
        raise Failure("the keymap has %d keypad digit keys like [ KP_Right, KP_6 ], expected 10" % found)
    load = subprocess.run(bounded(["xkbcomp", "-w", "0", "-", env["DISPLAY"]], 30), env=env,
                          input=keymap.encode("latin-1"), capture_output=True)
    loaded = len(re.findall(KEYPAD_DIGIT_FIRST, read_keymap()))
    if load.returncode != 0 or loaded != 10:
        raise Failure("the keypad keymap did not load (%d keys rearranged): %s"
                      % (loaded, load.stderr.decode("latin-1")))


def setup(prefix, work):
    """Starts Xvfb on a free display, detached so that CTest does not wait for it, loads the keypad
    keymap into it, then makes the prefix with that display, so the console windows of all scenes
    appear on it."""
    teardown(prefix, work)
    os.makedirs(work, exist_ok=True)
    read_end, write_end = os.pipe()
    log = open(os.path.join(work, "xvfb.log"), "wb")
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-noreset", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                              stdin=subprocess.DEVNULL, stdout=log, stderr=log, pass_fds=(write_end,),
                              start_new_session=True)
    os.close(write_end)
    display = b""
    deadline = time.monotonic() + 30
    while not display.endswith(b"\n") and time.monotonic() < deadline:
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        display += chunk
    os.close(read_end)
    if not display.strip().isdigit():
        server.kill()
        raise Failure("Xvfb did not start; see %s" % os.path.join(work, "xvfb.log"))
    with open(state_file(work), "w") as f:
        f.write("%s %d\n" % (display.decode().strip(), server.pid))
    env = console_environment(prefix, work)
    load_keypad_keymap(env)
    make_prefix(prefix, env)
    # A Wine server that stays up until the teardown, with the system processes it starts,
    # so that each scene's console does not wait for Wine to start from nothing.
    subprocess.run(bounded(["wineserver", "-p"], 60), env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def teardown(prefix, work):
    """Ends every Wine process of the prefix, then the X server the setup started."""
    env = wine_environment(prefix)
    if os.path.isdir(prefix):
        subprocess.run(bounded(["wineserver", "-k"], 60), env=env, stdin=subprocess.DEVNULL, capture_output=True)
    try:
        with open(state_file(work)) as f:
            _, pid = f.read().split()
        os.kill(int(pid), signal.SIGTERM)
    except (OSError, ValueError):
        pass
    try:
        os.remove(state_file(work))
    except OSError:
        pass


def batch_text(scene, title):
    """The batch file of a scene: what a batch author writes around kestin.exe, plus the screen
    watcher that tells the test when the editor is up and the dump of what the user saw."""
    lines = ["@echo off", "title " + title]
    value = scene.get("value")
    if value is None:
        lines.append("set NAME=")
    else:
        # In quotes & < > and " are plain characters; %% is one %.
        lines.append('set "NAME=%s"' % value.replace("%", "%%"))
    prompt = scene.get("prompt", PROMPT)
    options = " ".join(scene.get("options", []))
    lines += [
        "start /b console_screen.exe watch screen.txt watch.stop",
        'kestin.exe -v NAME -f out.bat -p "%s" %s' % (prompt, options),
        "set KESTIN_STATUS=%ERRORLEVEL%",
        "echo stop>watch.stop",
        "console_screen.exe dump final.txt",
    ]
    if scene.get("call", True):
        lines.append('if "%KESTIN_STATUS%"=="0" call out.bat')
    lines += [
        ">status.txt echo %KESTIN_STATUS%",
        ">value.txt set NAME",
        "exit",
    ]
    return "\r\n".join(lines) + "\r\n"


def read_screen(path):
    """The screen file of console_screen.exe as (cursor x, cursor y, rows); None while not there."""
    try:
        with open(path, "rb") as f:
            lines = f.read().decode("latin-1").split("\r\n")
    except OSError:
        return None
    if len(lines) < 3 or not lines[1].startswith("cursor "):
        return None
    _, x, y = lines[1].split()
    return int(x), int(y), lines[2:-1]


def edit_row_text(screen, prompt):
    """The text of the rows from the row that holds the prompt on, as the user sees them."""
    _, _, rows = screen
    for index, row in enumerate(rows):
        if row.startswith(prompt.rstrip()):
            return rows[index:]
    return None


def cell_after(prompt, text):
    """The 0-based cell (x, y) just after prompt and text, counted from the prompt's first cell."""
    length = len(prompt) + len(text)
    return length % CONSOLE_WIDTH, length // CONSOLE_WIDTH


def wait_for(what, test, limit, describe):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        found = test()
        if found:
            return found
        time.sleep(0.05)
    raise Failure("%s did not happen within %d seconds; %s" % (what, limit, describe()))


def xdotool(env, *arguments):
    result = subprocess.run(bounded(["xdotool"] + list(arguments), 30), env=env, stdin=subprocess.DEVNULL,
                            capture_output=True)
    if result.returncode != 0:
        raise Failure("xdotool %s failed: %s" % (" ".join(arguments), result.stderr.decode("latin-1")))
    return result.stdout.decode().split()


def wait_until_editing(env, folder, scene, prompt):
    """Waits until kestin.exe has created out.bat and shows the edit line with its cursor after
    the initial text. kestin.exe drops the keys typed before that; to be sure its key loop has
    begun, a probe key ("0", which every filter lets through) is typed and must show before it
    is taken back with Backspace. A probe typed too early is dropped and typed again."""
    screen_path = os.path.join(folder, "screen.txt")
    shown = scene.get("shown", scene.get("value") or "")
    masked = "-m" in scene.get("options", [])

    def describe():
        return "the console showed %r" % (read_screen(screen_path),)

    def shows(text):
        def test():
            screen = read_screen(screen_path)
            if screen is None or not os.path.exists(os.path.join(folder, "out.bat")):
                return False
            rows = edit_row_text(screen, prompt)
            if not rows:
                return False
            row = len(screen[2]) - len(rows)
            x, y = cell_after(prompt, text)
            return screen[:2] == (x, row + y) and rows[0].startswith((prompt + text)[:CONSOLE_WIDTH].rstrip())
        return test

    wait_for("the edit line", shows(shown), READY_LIMIT, describe)
    probe_shown = shown + ("*" if masked else "0")
    for attempt in range(3):
        xdotool(env, "key", "0")
        try:
            wait_for("the probe key", shows(probe_shown), 5, describe)
            break
        except Failure:
            if attempt == 2:
                raise
    xdotool(env, "key", "BackSpace")
    wait_for("the removal of the probe key", shows(shown), 10, describe)


def run_scene(name, exe, screen_exe, prefix, work):
    scene = SCENES.get(name)
    if scene is None:
        raise Failure("no scene named %r" % name)
    env = console_environment(prefix, work)
    folder = os.path.join(work, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    shutil.copy(exe, os.path.join(folder, "kestin.exe"))
    shutil.copy(screen_exe, os.path.join(folder, "console_screen.exe"))
    title = "kestin-scene-" + name
    with open(os.path.join(folder, "scene.bat"), "w", newline="") as f:
        f.write(batch_text(scene, title))
    prompt = scene.get("prompt", PROMPT)

    console = subprocess.Popen(bounded(["wineconsole", "cmd", "/c", "scene.bat"], SCENE_LIMIT), cwd=folder, env=env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        window = wait_for("the console window",
                          lambda: subprocess.run(["xdotool", "search", "--name", "^%s$" % title], env=env,
                                                 capture_output=True).stdout.decode().split(),
                          READY_LIMIT, lambda: "no window titled %s" % title)[-1]
        xdotool(env, "windowfocus", "--sync", window)
        wait_until_editing(env, folder, scene, prompt)
        for step in scene["keys"]:
            xdotool(env, *step)
        try:
            console.wait(timeout=SCENE_LIMIT)
        except subprocess.TimeoutExpired:
            raise Failure("the console did not close; it showed %r" % (read_screen(os.path.join(folder, "screen.txt")),))
        if console.returncode in (124, 137):
            raise Failure("the console was killed after %d seconds; it showed %r"
                          % (SCENE_LIMIT, read_screen(os.path.join(folder, "screen.txt"))))
    finally:
        if console.poll() is None:
            console.kill()
            # What the console ran may still be alive inside Wine: end it with the server.
            subprocess.run(bounded(["wineserver", "-k"], 60), env=env, stdin=subprocess.DEVNULL, capture_output=True)
    check_scene(scene, folder, prompt)


def check_scene(scene, folder, prompt):
    def read(name):
        try:
            with open(os.path.join(folder, name), "rb") as f:
                return f.read()
        except OSError:
            raise Failure("the batch file did not write %s" % name)

    status = int(read("status.txt").strip() or -1)
    if status != scene["status"]:
        raise Failure("ERRORLEVEL %d, expected %d" % (status, scene["status"]))
    out_path = os.path.join(folder, "out.bat")
    result = scene["result"]
    if result is None:
        if os.path.exists(out_path):
            raise Failure("out.bat is still there after status %d" % status)
        expected_name = scene.get("value")
    else:
        expected_file = ("SET NAME=%s\r\n" % result).encode("latin-1")
        if read("out.bat") != expected_file:
            raise Failure("out.bat holds %r, expected %r" % (read("out.bat"), expected_file))
        expected_name = result if scene.get("call", True) else scene.get("value")
    # "set NAME" lists every variable whose name begins with NAME; only NAME itself counts.
    names = [line[len("NAME="):] for line in read("value.txt").decode("latin-1").split("\r\n")
             if line.upper().startswith("NAME=")]
    found_name = names[0] if names else None
    if found_name != expected_name:
        raise Failure("the batch file's NAME is %r, expected %r" % (found_name, expected_name))
    screen = read_screen(os.path.join(folder, "final.txt"))
    rows = edit_row_text(screen, prompt) if screen else None
    if rows is None:
        raise Failure("the final screen has no row with the prompt: %r" % (screen,))
    expected_rows = scene["screen"]
    if rows[:len(expected_rows)] != expected_rows or any(rows[len(expected_rows):]):
        raise Failure("the console showed %r, expected %r" % (rows, expected_rows))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--screen", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("step")
    options = parser.parse_args()
    # Wine needs an absolute prefix, and the runs change their working folder.
    for name in ("exe", "screen", "prefix", "work"):
        if getattr(options, name, None):
            setattr(options, name, os.path.abspath(getattr(options, name)))
    try:
        if options.step == "setup":
            setup(options.prefix, options.work)
        elif options.step == "teardown":
            teardown(options.prefix, options.work)
        elif options.step.startswith("scene:"):
            run_scene(options.step[6:], options.exe, options.screen, options.prefix, options.work)
        else:
            raise Failure("unknown step %r" % options.step)
    except Failure as failure:
        print("FAILED: %s" % failure)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
