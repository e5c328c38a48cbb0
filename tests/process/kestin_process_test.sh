#!/usr/bin/env bash
# kestin_process_test.sh - runs the built program as a whole process and checks the
# exact bytes of standard output, the exit status and the output batch file.
#
# Usage: kestin_process_test.sh [--windows] [--work DIR] GROUP -- COMMAND...
#
#   COMMAND...  the program as a command prefix, e.g. build/native/kestin, or
#               wine build/windows/kestin.exe (WINEPREFIX and WINEDEBUG come from the caller)
#   GROUP       cli       runs that end before any key is read: help, refusals, a failed create
#               stream    runs that edit: key bytes on standard input (not a terminal)
#               failures  failed writes and deletes (POSIX only: /dev/full, file size
#                         limit, an unprivileged user)
#               all       every group
#   --windows   the program is kestin.exe: cases that need POSIX devices are skipped
#   --work DIR  where the runs' folders go (default: a fresh temporary folder)
#
# Standard input is never a terminal here, so the program reads it as key bytes:
# CR is Enter, 8 is Backspace, 3 is Ctrl+C, and the end of the input counts as Ctrl+C.
# Every run is bounded by timeout(1). Exit status 0 when every case passed, 1 otherwise.
set -uo pipefail

windows=0
work=""
while [[ $# -gt 0 ]]; do
    case "$1" in
        --windows) windows=1; shift ;;
        --work) work="$2"; shift 2 ;;
        --) shift; break ;;
        -*) echo "unknown option $1" >&2; exit 2 ;;
        *) group="$1"; shift ;;
    esac
done
if [[ -z "${group:-}" || $# -eq 0 ]]; then
    sed -n '4,16p' "$0" >&2
    exit 2
fi
program=("$@")
# A program path relative to where the script was started keeps working from the runs' folders.
if [[ "${program[-1]}" != /* && -e "${program[-1]}" ]]; then
    program[-1]="$PWD/${program[-1]}"
fi
if [[ -z "$work" ]]; then
    work=$(mktemp -d "${TMPDIR:-/tmp}/kestin-process.XXXXXX")
    trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
fi
mkdir -p "$work"
run_limit=${KESTIN_RUN_LIMIT:-60}

failed=0
passed=0
skipped=0
case_name=""
case_failed=0

# ---------------------------------------------------------------------------
# The harness

# Starts a case in an empty folder of its own, which becomes the working folder.
begin_case() {
    case_name="$1"
    case_failed=0
    case_dir="$work/$group-$case_name"
    chmod -R u+w "$case_dir" 2>/dev/null
    rm -rf "$case_dir"
    mkdir -p "$case_dir"
    cd "$case_dir" || exit 2
    stdin_bytes=""
    run_env=()
    stdout_target=stdout.bin
}

# Records a failed check of the current case.
fail() {
    echo "FAIL [$case_name]: $*"
    case_failed=1
}

end_case() {
    if [[ $case_failed -eq 0 ]]; then
        passed=$((passed + 1))
        echo "ok   [$case_name]"
    else
        failed=$((failed + 1))
    fi
    cd "$work" || exit 2
}

skip_case() {
    echo "skip [$1]: $2"
    skipped=$((skipped + 1))
}

# The bytes standard input delivers, as a printf format (e.g. 'abc\r').
keys() { stdin_bytes="$1"; }

# Runs the program with the arguments; run_env holds NAME=value settings for the run.
# Standard output goes to $stdout_target (stdout.bin unless a case says otherwise),
# the status to $status.
run() {
    printf -- "$stdin_bytes" >stdin.bin
    timeout -k 5 "$run_limit" env -u NAME "${run_env[@]}" "${program[@]}" "$@" \
        <stdin.bin >"$stdout_target" 2>stderr.bin
    status=$?
    if [[ $status -eq 124 || $status -eq 137 ]]; then
        fail "the program did not end within $run_limit seconds"
    fi
}

expect_status() {
    [[ $status -eq $1 ]] || fail "status $status, expected $1"
}

# Compares a file's bytes with the bytes of a printf format.
expect_bytes() {
    local file="$1" format="$2"
    printf -- "$format" >expected.bin
    if [[ ! -f "$file" ]]; then
        fail "$file does not exist"
    elif ! cmp -s "$file" expected.bin; then
        fail "$file holds $(od -c "$file" | head -8), expected $(od -c expected.bin | head -8)"
    fi
}

expect_stdout() { expect_bytes stdout.bin "$1"; }
expect_file() { expect_bytes "$1" "$2"; }

expect_no_file() {
    [[ ! -e "$1" ]] || fail "$1 exists after the run"
}

expect_nothing_on_stderr() {
    [[ ! -s stderr.bin ]] || fail "standard error holds $(od -c stderr.bin | head -4)"
}

# Checks the failure report on standard output: "Runtime error N at 0x" and 8 capital
# hex digits, the same digits after two blanks, call lines, an empty line.
expect_report() {
    local number="$1"
    local lines
    mapfile -t lines < <(tr -d '\r' <stdout.bin)
    local first="" start=-1 i
    for i in "${!lines[@]}"; do
        if [[ "${lines[$i]}" == "Runtime error $number at 0x"* ]]; then
            start=$i
            first="${lines[$i]}"
            break
        fi
    done
    if [[ $start -lt 0 ]]; then
        fail "no line 'Runtime error $number at 0x...' in $(od -c stdout.bin | head -6)"
        return
    fi
    if [[ ! "$first" =~ ^Runtime\ error\ $number\ at\ 0x([0-9A-F]{8})$ ]]; then
        fail "malformed report line '$first'"
        return
    fi
    report_place="${BASH_REMATCH[1]}"
    [[ "${lines[$((start + 1))]:-}" == "  0x$report_place" ]] ||
        fail "the report's second line is '${lines[$((start + 1))]:-}', not '  0x$report_place'"
    local j=$((start + 2)) calls=0
    while [[ $j -lt ${#lines[@]} && "${lines[$j]}" =~ ^\ \ 0x[0-9A-F]{8}$ ]]; do
        calls=$((calls + 1))
        j=$((j + 1))
    done
    [[ $calls -le 257 ]] || fail "$calls call lines, more than 257"
    [[ $j -eq $((${#lines[@]} - 1)) && -z "${lines[$j]}" ]] ||
        fail "the report does not end with one empty line after its call lines"
    [[ "$(tail -c 4 stdout.bin | od -An -tx1 | tr -d ' \n')" == "0d0a0d0a" ]] ||
        fail "the report's lines do not end with CR LF"
}

# ---------------------------------------------------------------------------
# Expected texts

HELP='Kestin * Version 6 * an editable input line for batch files\r
\r
Usage: kestin -v var -f filename [-l length] [-p prompt] [-b] [-m] [-n] [-o]\r
              [-u]\r
\r
  -v var       specifies the environment variable name to create/edit\r
  -f filename  specifies the name of the output batch file\r
  -l length    limits the length of the input string (range=1 to 2040)\r
  -p prompt    the prompt to display (enclose in quotes if needed)\r
  -b           position cursor at beginning of input line, instead of the end\r
  -m           mask input (typed characters appear as asterisks)\r
  -n           numeric input only (0-9)\r
  -o           start editing in overtype mode rather than insert mode\r
  -u           upper case input (all typed characters forced to upper case)\r
\r
Places the contents of the specified environment variable onto the input line\r
for editing. Then the output batch file is created in the following form:\r
  SET varname=value\r
\r
Exit codes:\r
  1  User pressed Ctrl+C to abort the input\r
  2  Nothing entered on the input line\r
  3  Error on the command line\r
'

# A refusal: the message and the hint, each ended by CR LF (printf formats).
NO_NAME='Environment variable name not specified\r\nUse -h for help\r\n'
NO_FILE='Output file name not specified\r\nUse -h for help\r\n'
BAD_LENGTH='Invalid maximum length specified\r\nUse -h for help\r\n'
CANNOT_OPEN='Cannot open file for output\r\nUse -h for help\r\n'

# ---------------------------------------------------------------------------
# cli: runs that end before any key is read

# Runs with the arguments (and no output file before it) and checks the exact standard
# output and the status; an existing out.bat must stay untouched.
cli_case() {
    local name="$1" expected_status="$2" expected_out="$3"
    shift 3
    begin_case "$name"
    printf 'old line\r\n' >out.bat
    keys 'typed\r'
    run "$@"
    expect_status "$expected_status"
    expect_stdout "$expected_out"
    expect_file out.bat 'old line\r\n'
    expect_nothing_on_stderr
    end_case
}

group_cli() {
    # The help: "/?" first, whatever follows; -h or -H as an option anywhere.
    cli_case help-slash-question 0 "$HELP" '/?'
    cli_case help-slash-question-then-anything 0 "$HELP" '/?' -l 0 -x word -f out.bat
    cli_case help-h-after-valid-options 0 "$HELP" -v name -f out.bat -h
    cli_case help-upper-h-first 0 "$HELP" -H -v name
    cli_case help-h-after-bad-length 0 "$HELP" -l 0 -f out.bat -h
    cli_case help-h-grouped-with-flags 0 "$HELP" -bmh
    cli_case help-slash-h 0 "$HELP" /h
    # Help asked for after the option list ended is no option.
    cli_case help-h-after-double-dash 3 "$NO_FILE" -v name -- -h
    cli_case help-h-as-a-value 3 "$NO_FILE" -v name -p -h
    # "/?" anywhere but first, or with more characters, is no help.
    cli_case slash-question-not-first 3 "$NO_FILE" -v name '/?'
    cli_case slash-question-with-more 3 "$NO_NAME" '/?x'

    # The refusals, in their order: the name, the file, the length.
    cli_case no-arguments 3 "$NO_NAME"
    cli_case only-output-file 3 "$NO_NAME" -f out.bat
    cli_case empty-name 3 "$NO_NAME" -v '' -f out.bat
    cli_case name-missing-at-end 3 "$NO_NAME" -f out.bat -v
    cli_case name-before-length 3 "$NO_NAME" -l 0
    cli_case no-output-file 3 "$NO_FILE" -v name
    cli_case file-after-double-dash 3 "$NO_FILE" -v name -- -f out.bat
    cli_case prompt-takes-dash-v 3 "$NO_NAME" -p -v name -f out.bat
    cli_case words-and-unknown-options 3 "$NO_FILE" word -x '-?' -bxm /v name
    cli_case length-zero 3 "$BAD_LENGTH" -v name -f out.bat -l 0
    cli_case length-2041 3 "$BAD_LENGTH" -v name -f out.bat -l 2041
    cli_case length-negative 3 "$BAD_LENGTH" -v name -f out.bat -l -5
    cli_case length-not-a-number 3 "$BAD_LENGTH" -v name -f out.bat -l x
    cli_case length-trailing-blank 3 "$BAD_LENGTH" -v name -f out.bat -l '20 '
    cli_case length-c-hex 3 "$BAD_LENGTH" -v name -f out.bat -l 0x10
    cli_case length-too-large 3 "$BAD_LENGTH" -v name -f out.bat -l 4294967297
    cli_case length-last-one-counts 3 "$BAD_LENGTH" -v name -f out.bat -l 20 -l x

    # An output file that cannot be created: refused before a key is read.
    begin_case missing-directory
    keys 'abc\r'
    run_env=(NAME=abc)
    run -v name -f missing/out.bat -p 'Name: '
    expect_status 3
    expect_stdout "$CANNOT_OPEN"
    expect_no_file missing
    end_case

    begin_case output-name-is-a-directory
    mkdir folder
    run -v name -f folder
    expect_status 3
    expect_stdout "$CANNOT_OPEN"
    end_case
}

# ---------------------------------------------------------------------------
# stream: runs that edit, with key bytes on standard input

group_stream() {
    # Enter at once keeps the value: exactly the 14 bytes of the line.
    begin_case enter-keeps-value
    run_env=(NAME=abc)
    keys '\r'
    run -v name -f out.bat -p 'Name: '
    expect_status 0
    expect_file out.bat 'SET NAME=abc\r\n'
    [[ $(stat -c %s out.bat 2>/dev/null) == 14 ]] || fail "out.bat is not 14 bytes long"
    expect_stdout 'Name: abc\r\n'
    expect_nothing_on_stderr
    end_case

    # The prompt is written unchanged, its trailing blank included, before the value.
    begin_case prompt-keeps-trailing-blank
    run_env=(NAME=x)
    keys '\r'
    run -v NAME -f out.bat -p 'Say:  '
    expect_status 0
    expect_stdout 'Say:  x\r\n'
    end_case

    begin_case backspace-three-times-then-alice
    run_env=(NAME=Bob)
    keys '\b\b\bAlice\r'
    run -v name -f out.bat -p 'Name: '
    expect_status 0
    expect_file out.bat 'SET NAME=Alice\r\n'
    end_case

    # Options with "/" and in capitals, a value in the same argument.
    begin_case slash-and-capital-options
    run_env=(NAME=abc)
    keys '\r'
    run /vname /F out.bat
    expect_status 0
    expect_file out.bat 'SET NAME=abc\r\n'
    end_case

    # The existing file is emptied at once and replaced by the new line.
    begin_case existing-file-replaced
    printf 'SET OLD=1\r\nmore lines\r\n' >out.bat
    run_env=(NAME=v)
    keys '\r'
    run -v NAME -f out.bat
    expect_status 0
    expect_file out.bat 'SET NAME=v\r\n'
    end_case

    begin_case ctrl-c-deletes-existing-file
    printf 'old line\r\n' >out.bat
    run_env=(NAME=abc)
    keys 'xyz\003'
    run -v name -f out.bat
    expect_status 1
    expect_no_file out.bat
    end_case

    # The end of the input counts as Ctrl+C.
    begin_case end-of-input-is-ctrl-c
    run_env=(NAME=abc)
    keys 'abc'
    run -v name -f out.bat
    expect_status 1
    expect_no_file out.bat
    end_case

    begin_case empty-line-deletes-existing-file
    printf 'old line\r\n' >out.bat
    keys '\r'
    run -v name -f out.bat
    expect_status 2
    expect_no_file out.bat
    end_case

    begin_case line-emptied-by-backspace
    run_env=(NAME=ab)
    keys '\b\b\r'
    run -v name -f out.bat
    expect_status 2
    expect_no_file out.bat
    end_case

    # Characters the command processor treats specially are written as they are.
    begin_case special-characters-unchanged
    run_env=('NAME=50% & <in> "q"')
    keys '\r'
    run -v name -f out.bat
    expect_status 0
    expect_file out.bat 'SET NAME=50%% & <in> "q"\r\n'
    end_case

    begin_case typed-special-characters
    keys '%%&<>"|^\r'
    run -v name -f out.bat
    expect_status 0
    expect_file out.bat 'SET NAME=%%&<>"|^\r\n'
    end_case

    # -v path takes the value of PATH.
    begin_case variable-path
    keys '\r'
    run -v path -f out.bat
    expect_status 0
    if [[ $windows -eq 1 ]]; then
        [[ "$(head -c 9 out.bat 2>/dev/null)" == "SET PATH=" ]] || fail "out.bat does not begin with SET PATH="
    else
        expect_file out.bat "SET PATH=${PATH//%/%%}\\r\\n"
    fi
    end_case

    # The name is stored in capitals; other characters stay.
    begin_case name-in-capitals
    run_env=(MY_VAR1=v)
    keys '\r'
    run -v my_var1 -f out.bat
    expect_status 0
    expect_file out.bat 'SET MY_VAR1=v\r\n'
    end_case

    # The -l values that pass: the limit reaches the editor.
    begin_case length-limits-typing
    keys 'abcdef\r'
    run -v name -f out.bat -l 3
    expect_status 0
    expect_file out.bat 'SET NAME=abc\r\n'
    end_case

    begin_case length-forms-accepted
    local form
    for form in 1 2040 '  7' '$7F8' '%%11' '+5' '-$FFFFFFFF'; do
        keys 'wxyzwxyzwxyz\r'
        run -v name -f out.bat -l "$(printf -- "$form")"
        expect_status 0
    done
    keys 'abcdef\r'
    run -v name -f out.bat -l 10 -l 2
    expect_status 0
    expect_file out.bat 'SET NAME=ab\r\n'
    end_case

    # A value longer than 2040 characters is not cut: the edit line begins empty.
    begin_case value-longer-than-limit
    run_env=("NAME=$(head -c 2041 /dev/zero | tr '\0' 'v')")
    keys '\r'
    run -v name -f out.bat
    expect_status 2
    expect_no_file out.bat
    end_case

    begin_case value-of-2040-characters
    local long
    long=$(head -c 2040 /dev/zero | tr '\0' 'v')
    run_env=("NAME=$long")
    keys '\r'
    run -v name -f out.bat
    expect_status 0
    expect_file out.bat "SET NAME=$long\\r\\n"
    end_case

    # Flags reach the editor: upper case, numeric only, masked (which allows any character).
    begin_case flags-upper-case
    keys 'abc\r'
    run -v name -f out.bat -u
    expect_status 0
    expect_file out.bat 'SET NAME=ABC\r\n'
    end_case

    begin_case flags-masked-and-numeric
    keys 'a1\r'
    run -v name -f out.bat -mn -p 'PIN: '
    expect_status 0
    expect_file out.bat 'SET NAME=a1\r\n'
    expect_stdout 'PIN: **\r\n'
    end_case

    begin_case flags-numeric-only
    keys 'a1b2\r'
    run -v name -f out.bat -n
    expect_status 0
    expect_file out.bat 'SET NAME=12\r\n'
    end_case

    begin_case flags-cursor-at-start-overtype
    run_env=(NAME=abc)
    keys 'x\r'
    run -bo -v name -f out.bat
    expect_status 0
    expect_file out.bat 'SET NAME=xbc\r\n'
    end_case

    # A name with "/" separators reaches the file in the folder.
    begin_case slash-separated-name
    mkdir sub
    run_env=(NAME=x)
    keys '\r'
    run -v name -f sub/out.bat
    expect_status 0
    expect_file sub/out.bat 'SET NAME=x\r\n'
    end_case
}

# ---------------------------------------------------------------------------
# failures: failed writes, deletes and creates

group_failures() {
    if [[ $windows -eq 1 ]]; then
        skip_case failures "needs POSIX devices and users"
        return
    fi

    # The output file on a full device: the write fails, the report goes to standard output.
    begin_case output-on-full-device
    run_env=(NAME=abc)
    keys '\r'
    run -v name -f /dev/full -p 'Name: '
    expect_status 101
    expect_report 101
    [[ -c /dev/full ]] || fail "/dev/full is gone"
    end_case

    # A full disk part-way through the line: the file keeps the whole 256-byte blocks
    # handed over before the failure. A file size limit stands for the full disk;
    # SIGXFSZ is ignored so that the write fails instead of ending the process.
    begin_case disk-full-part-way
    local long line_size size
    long=$(head -c 2040 /dev/zero | tr '\0' 'v')
    run_env=("NAME=$long")
    printf '\r' >stdin.bin
    # Standard output goes through a pipe, which the size limit does not bound.
    (trap '' XFSZ; ulimit -f 1
     exec timeout -k 5 "$run_limit" env "${run_env[@]}" "${program[@]}" -v name -f out.bat \
         <stdin.bin) | cat >stdout.bin
    status=${PIPESTATUS[0]}
    expect_status 101
    expect_report 101
    size=$(stat -c %s out.bat)
    line_size=$((9 + 2040 + 2))
    [[ $size -gt 0 && $size -lt $line_size && $((size % 256)) -eq 0 ]] ||
        fail "out.bat holds $size bytes, not whole buffers of the line"
    printf 'SET NAME=%s\r\n' "$long" | head -c "$size" >expected-part.bin
    cmp -s out.bat expected-part.bin || fail "out.bat is not the beginning of the line"
    end_case

    # Standard output that cannot be written: status 101, whatever the run was to do.
    local what
    for what in no-arguments help prompt; do
        begin_case "stdout-full-$what"
        printf 'old\r\n' >out.bat
        run_env=(NAME=abc)
        keys '\r'
        stdout_target=/dev/full
        case "$what" in
            no-arguments) run ;;
            help) run '/?' ;;
            prompt) run -v name -f out.bat -p 'Name: ' ;;
        esac
        expect_status 101
        [[ ! -s stdout.bin ]] || fail "standard output was written"
        if [[ $what == prompt ]]; then
            # The file was created before the prompt, and is left empty.
            expect_file out.bat ''
        else
            expect_file out.bat 'old\r\n'
        fi
        end_case
    done

    # The addresses of the report name the place in the unstripped program.
    begin_case report-addresses-name-the-place
    run_env=(NAME=abc)
    keys '\r'
    run -v name -f /dev/full
    expect_status 101
    expect_report 101
    if command -v addr2line >/dev/null && command -v readelf >/dev/null &&
        readelf -S "${program[-1]}" 2>/dev/null | grep -q '\.debug_line'; then
        local where
        where=$(addr2line -f -C -e "${program[-1]}" "0x$report_place" 2>/dev/null | tr '\n' ' ')
        [[ "$where" == *src/app/* ]] || fail "addr2line names '$where' for 0x$report_place"
    fi
    end_case

    # A delete that fails: the file sits in a folder the user may not change.
    # Root may delete anywhere, so root runs the program as the user nobody.
    begin_case delete-fails
    local runner=()
    if [[ $(id -u) -eq 0 ]]; then
        if command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
            runner=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
            [[ $(id -gn nobody 2>/dev/null) == nogroup ]] || runner=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
        else
            skip_case delete-fails "running as root without setpriv or the user nobody"
            cd "$work" || exit 2
            return
        fi
    fi
    # nobody needs to reach the program and the folder.
    cp "${program[-1]}" ./kestin-copy
    chmod 755 "$case_dir" ./kestin-copy
    mkdir locked
    printf 'old\r\n' >locked/out.bat
    chmod 666 locked/out.bat
    chmod 555 locked
    if "${runner[@]}" touch locked/probe 2>/dev/null; then
        rm -f locked/probe
        skip_case delete-fails "the folder cannot be made read-only for this user"
        cd "$work" || exit 2
        return
    fi
    local saved=("${program[@]}")
    program=("${runner[@]}" "$case_dir/kestin-copy")
    run_env=(NAME=abc)
    keys '\003'
    run -v name -f locked/out.bat
    program=("${saved[@]}")
    expect_status 5
    expect_report 5
    expect_file locked/out.bat ''
    # An empty line ends with the same failure.
    program=("${runner[@]}" "$case_dir/kestin-copy")
    run_env=()
    keys '\r'
    run -v name -f locked/out.bat
    program=("${saved[@]}")
    expect_status 5
    expect_report 5
    chmod 755 locked
    end_case

    # A file the user may not write cannot be created.
    begin_case create-refused
    if [[ $(id -u) -eq 0 ]]; then
        # Root writes any file, so a name inside a regular file stands for it.
        printf 'x' >plain
        run_env=(NAME=abc)
        run -v name -f plain/out.bat
    else
        printf 'x' >readonly.bat
        chmod 444 readonly.bat
        run_env=(NAME=abc)
        run -v name -f readonly.bat
    fi
    expect_status 3
    expect_stdout "$CANNOT_OPEN"
    end_case
}

case "$group" in
    cli) group_cli ;;
    stream) group_stream ;;
    failures) group_failures ;;
    all) group_cli; group_stream; group_failures ;;
    *) echo "unknown group $group" >&2; exit 2 ;;
esac

echo "$passed passed, $failed failed, $skipped skipped"
[[ $failed -eq 0 ]]
