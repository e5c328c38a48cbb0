#!/usr/bin/env bash
# make-pictures.sh - makes the README's pictures from the real programs, each on an X
# server of its own (Xvfb), with the keys typed by xdotool and the screen taken by
# ImageMagick's import:
#   docs/kestin-windows.png   kestin.exe run by docs/examples/ask.bat in a Wine console window
#   docs/kestin-terminal.png  kestin run by docs/examples/ask.sh in an xterm
# Usage: docs/make-pictures.sh   (from anywhere; installs what it needs from Debian's packages)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# The tools that only the pictures need: imagemagick (import) and xterm; Xvfb, xdotool and
# Wine come with the project's test tools.
missing=()
command -v import >/dev/null || missing+=(imagemagick)
command -v xterm >/dev/null || missing+=(xterm)
command -v Xvfb >/dev/null || missing+=(xvfb)
command -v xdotool >/dev/null || missing+=(xdotool)
command -v wineconsole >/dev/null || missing+=(wine64 wine)
command -v x86_64-w64-mingw32-g++ >/dev/null || missing+=(g++-mingw-w64-x86-64)
dpkg-query -W -f='${Status}' fonts-dejavu-core 2>/dev/null | grep -q "install ok installed" || missing+=(fonts-dejavu-core)
if [[ ${#missing[@]} -gt 0 ]]; then
    sudo=()
    [[ $(id -u) -ne 0 ]] && sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

jobs=$(nproc)
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target kestin
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" --target kestin

work=$root/build/pictures
mkdir -p "$work"
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WAYLAND_DISPLAY

# Everything started here, ended on the way out.
xvfb_pid=""
program_pid=""
cleanup() {
    set +e
    [[ -n "$program_pid" ]] && kill "$program_pid" 2>/dev/null
    timeout -k 5 30 wineserver -k 2>/dev/null
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    return 0
}
trap cleanup EXIT

# Starts Xvfb on a free display (it writes the number it took to the descriptor given).
start_x() {
    local number=$work/display
    rm -f "$number"
    Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$number" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [[ -s "$number" ]] && break
        sleep 0.1
    done
    [[ -s "$number" ]] || { echo "Xvfb did not start; see $work/xvfb.log" >&2; exit 1; }
    export DISPLAY=:$(head -n 1 "$number")
}

# Waits up to 60 seconds for a window whose name matches $1 and prints its id.
wait_for_window() {
    local id=""
    for _ in $(seq 600); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1) || true
        [[ -n "$id" ]] && { echo "$id"; return 0; }
        sleep 0.1
    done
    echo "no window named $1 appeared" >&2
    return 1
}

# Types text, then presses keys, with a pause for the program to answer.
type_text() { xdotool type --delay 80 "$1"; sleep 0.5; }
press() { xdotool key --delay 150 "$@"; sleep 0.5; }

# Takes window $1 (cropped to geometry $2 unless empty) as PNG $3. The console's cursor
# blinks, so three shots are taken a quarter second apart and the brightest kept: the one
# that shows the cursor.
snapshot() {
    local best="" best_mean=-1 mean shot
    for i in 1 2 3; do
        shot=$work/shot-$i.png
        import -window "$1" ${2:+-crop "$2"} +repage "$shot"
        mean=$(identify -format '%[fx:mean]' "$shot")
        if awk -v a="$mean" -v b="$best_mean" 'BEGIN { exit !(a > b) }'; then
            best=$shot
            best_mean=$mean
        fi
        sleep 0.25
    done
    cp "$best" "$3"
}

start_x

# --- kestin.exe in a Wine console window ---------------------------------------------
# A Wine prefix of the pictures' own, made once. Drive D: is the folder with kestin.exe
# and ask.bat, so the prompt reads D:\> instead of a long Unix path. The console shows
# 80 x 13 cells, and Wine's Marlett font draws the window's title-bar buttons.
if [[ ! -f "$WINEPREFIX/.ready" ]]; then
    rm -rf "$WINEPREFIX"
    timeout -k 10 600 wineboot -i >/dev/null 2>&1
    timeout -k 10 300 wineserver -w
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    timeout -k 10 120 wine reg add 'HKCU\Console' /v WindowSize /t REG_DWORD /d 0x000d0050 /f >/dev/null 2>&1
    timeout -k 10 300 wineserver -w
    touch "$WINEPREFIX/.ready"
fi
demo=$work/windows
rm -rf "$demo"
mkdir -p "$demo"
cp build/windows/kestin.exe docs/examples/ask.bat "$demo/"
ln -sfn "$demo" "$WINEPREFIX/dosdevices/d:"

(cd "$demo" && exec env -u NAME wine explorer /desktop=kestin,720x400 wineconsole cmd >"$work/wine.log" 2>&1) &
program_pid=$!
desktop=$(wait_for_window 'kestin - Wine desktop')
console=$(wait_for_window 'cmd.exe')
sleep 2
# A click into the console window gives it the keyboard (there is no window manager).
xdotool mousemove --window "$desktop" 300 150 click 1
sleep 0.5
# First run: the default World becomes Alice. The batch file's CALL leaves NAME=Alice
# in the console's cmd.exe, so the second run offers Alice for editing.
type_text 'ask'; press Return; sleep 2
press BackSpace BackSpace BackSpace BackSpace BackSpace
type_text 'Alice'; press Return; sleep 1
type_text 'ask'; press Return; sleep 2
type_text ' Smith'; press Home
type_text 'Dr. '
press ctrl+Right
sleep 1
# The console window inside the desktop, without the desktop's background beside it.
eval "$(xdotool getwindowgeometry --shell "$console")"
snapshot "$desktop" "${WIDTH}x${HEIGHT}+0+0" docs/kestin-windows.png
press Return
kill "$program_pid" 2>/dev/null || true
timeout -k 5 30 wineserver -k 2>/dev/null || true
wait "$program_pid" 2>/dev/null || true
program_pid=""

# --- kestin in an xterm -----------------------------------------------------------------
# A shell with a short prompt in the folder of ask.sh, and kestin on its PATH.
demo=$work/terminal
rm -rf "$demo"
mkdir -p "$demo/bin"
cp docs/examples/ask.sh "$demo/"
ln -s "$root/build/native/kestin" "$demo/bin/kestin"
(cd "$demo" && exec env -u NAME LANG=C.UTF-8 PATH="$demo/bin:$PATH" PS1='$ ' \
    xterm -title 'kestin in xterm' -geometry 80x7+0+0 -fa 'DejaVu Sans Mono' -fs 12 \
          -bg '#1e1e1e' -fg '#e8e8e8' -cr '#e8e8e8' -b 8 +sb -e bash --norc --noprofile >"$work/xterm.log" 2>&1) &
program_pid=$!
window=$(wait_for_window 'kestin in xterm')
sleep 1
# Without a window manager the keyboard follows the pointer.
xdotool mousemove --window "$window" 100 50
sleep 0.5
type_text 'sh ask.sh'; press Return; sleep 1
press BackSpace BackSpace BackSpace BackSpace BackSpace
type_text 'Alice'; press Return; sleep 0.5
type_text 'NAME=Alice sh ask.sh'; press Return; sleep 1
type_text ' Smith'; press Home
type_text 'Dr. '
press ctrl+Right
sleep 1
snapshot "$window" "" docs/kestin-terminal.png
press Return
sleep 0.5
kill "$program_pid" 2>/dev/null || true
wait "$program_pid" 2>/dev/null || true
program_pid=""

echo "Made docs/kestin-windows.png and docs/kestin-terminal.png"
