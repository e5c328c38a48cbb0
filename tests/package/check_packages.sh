#!/usr/bin/env bash
# check_packages.sh - unpacks the release packages afresh and runs the program from each:
# its help (status 0, the usage line) and one edit with keys on standard input.
#
# Usage: check_packages.sh WINDOWS_ZIP LINUX_TAR_GZ
#
# kestin.exe runs under Wine (a prefix of its own under the packages' folder, made
# once) when Wine is installed; otherwise only its presence in the zip is checked.
# Every run is bounded by timeout(1). Exit status 0 when everything passed, 1 otherwise.
set -uo pipefail

zip=${1:?usage: check_packages.sh WINDOWS_ZIP LINUX_TAR_GZ}
tgz=${2:?usage: check_packages.sh WINDOWS_ZIP LINUX_TAR_GZ}
zip=$(cd "$(dirname "$zip")" && pwd)/$(basename "$zip")
tgz=$(cd "$(dirname "$tgz")" && pwd)/$(basename "$tgz")

work=$(mktemp -d "${TMPDIR:-/tmp}/kestin-packages.XXXXXX")
wine_started=0
cleanup() {
    if [[ $wine_started -eq 1 ]]; then
        timeout -k 5 60 wineserver -k 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

cd "$work" || exit 1
failed=0
pass() { echo "ok: $*"; }
fail() { echo "FAILED: $*"; failed=1; }

# Unpacks archive $1 into folder $2 (cmake reads zip and tar.gz alike) and prints the
# one top folder it holds.
unpack() {
    mkdir -p "$2"
    (cd "$2" && cmake -E tar xf "$1") || { fail "cannot unpack $1"; return 1; }
    local tops=("$2"/*)
    if [[ ${#tops[@]} -ne 1 || ! -d "${tops[0]}" ]]; then
        fail "$(basename "$1") does not hold exactly one top folder"
        return 1
    fi
    echo "${tops[0]}"
}

# The files a package must hold, relative to its top folder.
expect_files() {
    local top=$1 name=$2
    shift 2
    for file in "$@"; do
        if [[ -f "$top/$file" ]]; then pass "$name holds $file"; else fail "$name lacks $file"; fi
    done
}

# Runs a program command ($@) twice: with /? it must end with status 0 and show the
# usage line; with the keys "x" and Enter on standard input and NAME=a it must write
# SET NAME=ax and CR LF to out.bat in the current folder.
check_program() {
    local name=$1
    shift
    local output status
    output=$(timeout -k 5 "$limit" "$@" '/?' </dev/null 2>&1)
    status=$?
    if [[ $status -eq 0 && "$output" == *"Usage: kestin -v var -f filename"* ]]; then
        pass "$name: help, status 0"
    else
        fail "$name: help gave status $status and: $output"
    fi
    rm -f out.bat
    printf 'x\r' | NAME=a timeout -k 5 "$limit" "$@" -v name -f out.bat >/dev/null 2>&1
    status=$?
    printf 'SET NAME=ax\r\n' >want.bat
    if [[ $status -eq 0 ]] && cmp -s want.bat out.bat; then
        pass "$name: an edit writes SET NAME=ax"
    else
        fail "$name: the edit gave status $status and out.bat: $(od -An -c out.bat 2>&1)"
    fi
}

# The Linux package: run natively.
if top=$(unpack "$tgz" "$work/linux"); then
    expect_files "$top" "$(basename "$tgz")" bin/kestin share/man/man1/kestin.1 share/doc/kestin/README.md
    limit=30
    check_program "bin/kestin" "$top/bin/kestin"
fi

# The Windows package: under Wine when it is there.
if top=$(unpack "$zip" "$work/windows"); then
    expect_files "$top" "$(basename "$zip")" kestin.exe README.md
    if command -v wine >/dev/null && [[ -f "$top/kestin.exe" ]]; then
        export WINEPREFIX=$(dirname "$zip")/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
        unset DISPLAY WAYLAND_DISPLAY
        wine_started=1
        if [[ ! -f "$WINEPREFIX/.ready" ]]; then
            mkdir -p "$WINEPREFIX"
            timeout -k 10 600 wineboot -i </dev/null >/dev/null 2>&1 && timeout -k 10 300 wineserver -w &&
                touch "$WINEPREFIX/.ready"
        fi
        limit=300
        check_program "kestin.exe under Wine" wine "$top/kestin.exe"
    else
        echo "skipped: kestin.exe not run (Wine is not installed)"
    fi
fi

exit $failed
