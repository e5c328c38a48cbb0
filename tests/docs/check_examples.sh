#!/usr/bin/env bash
# check_examples.sh - runs the README's example scripts with keys on standard input
# and checks what each one printed last.
#
# Usage: check_examples.sh sh  KESTIN            docs/examples/ask.sh with the built kestin
#        check_examples.sh bat WINE KESTIN_EXE   docs/examples/ask.bat under Wine's cmd.exe
#
# Standard input is no terminal, so kestin reads it as key bytes: Esc (\033) empties
# the line, CR is Enter, and the end of the input counts as Ctrl+C. Every run is
# bounded by timeout(1). Exit status 0 when every case passed, 1 otherwise.
set -uo pipefail

examples=$(cd "$(dirname "$0")/../../docs/examples" && pwd)
kind=${1:?usage: check_examples.sh sh KESTIN | bat WINE KESTIN_EXE}
shift

work=$(mktemp -d "${TMPDIR:-/tmp}/kestin-examples.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The cases: keys typed, then the last line the script must print. The value
# starts as World, the script's default, since NAME is not set.
cases=(
    'Alice\r'                 'Hello, WorldAlice!'
    '\033Alice\r'             'Hello, Alice!'
    '\033\r'                  'No name given.'
    ''                        'Cancelled with Ctrl+C.'
    '\033x\003'               'Cancelled with Ctrl+C.'
    # -l 40: the 41st character is refused.
    '\033abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN+\r' 'Hello, abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN!'
)
if [[ $kind == sh ]]; then
    # Characters a shell would act on come through as they were typed.
    cases+=('\033Tom & Jerry $(id) `x` \\n 100%% "q" '"'s'"'\r' "Hello, Tom & Jerry \$(id) \`x\` \\n 100% \"q\" 's'!")
fi

case $kind in
    sh)
        kestin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
        mkdir -p "$work/bin"
        ln -s "$kestin" "$work/bin/kestin"
        run() { env -u NAME PATH="$work/bin:$PATH" TMPDIR="$work" timeout -k 5 30 sh "$examples/ask.sh"; }
        line_ends=''      # a CR left in the value would show
        ;;
    bat)
        wine=$1
        cp "$2" "$work/kestin.exe"
        cp "$examples/ask.bat" "$work/ask.bat"
        run() { (cd "$work" && env -u NAME timeout -k 5 120 "$wine" cmd /c ask.bat); }
        line_ends='\r'   # cmd.exe ends its lines with CR LF
        ;;
    *)
        echo "unknown kind $kind" >&2
        exit 2
        ;;
esac

failed=0
for ((i = 0; i < ${#cases[@]}; i += 2)); do
    keys=${cases[i]}
    want=${cases[i + 1]}
    got=$(printf "$keys" | run 2>"$work/stderr" | tr -d "$line_ends" | tail -n 1)
    if [[ "$got" == "$want" ]]; then
        echo "ok: keys '$keys'"
    else
        echo "FAILED: keys '$keys'"
        echo "  expected last line: $want"
        echo "  got:                $got"
        sed 's/^/  stderr: /' "$work/stderr"
        failed=1
    fi
done
# The script removes the output file whatever the outcome.
if [[ $kind == sh ]] && compgen -G "$work/tmp.*" >/dev/null; then
    echo "FAILED: output files left behind: $(ls "$work")"
    failed=1
fi
exit $failed
