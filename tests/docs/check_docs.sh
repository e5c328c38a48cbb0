#!/usr/bin/env bash
# check_docs.sh - checks the user documentation against the files it refers to.
#
# Usage: check_docs.sh examples   the README shows docs/examples/ask.bat and ask.sh
#                                 exactly as they are (the files the example tests run)
#        check_docs.sh links      every file the README links to or shows as a picture exists
#        check_docs.sh manual     kestin.1 renders without a warning (man and groff)
#
# Exit status 0 when the check passed, 1 otherwise.
set -uo pipefail
cd "$(dirname "$0")/../.."

failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}

case ${1:-} in
    examples)
        readme=$(cat README.md)
        for example in docs/examples/ask.bat docs/examples/ask.sh; do
            # The batch file has CR LF line ends; the README shows it with plain ones.
            text=$(tr -d '\r' <"$example")
            if [[ "$readme" == *"$text"* ]]; then
                echo "ok: README.md shows $example"
            else
                fail "README.md does not show $example as it is; copy the file into its code block"
            fi
        done
        ;;
    links)
        # Markdown links and pictures to files of the repository: ](path) without a scheme.
        while IFS= read -r target; do
            target=${target%%#*}
            [[ -z "$target" ]] && continue
            if [[ -e "$target" ]]; then
                echo "ok: $target"
            else
                fail "README.md links to $target, which does not exist"
            fi
        done < <(grep -o '](\([^)]*\))' README.md | sed 's/^](//; s/)$//' | grep -v '^[a-z]*:')
        ;;
    manual)
        # Warnings go to standard error while the exit status stays 0, so standard error is what counts.
        warnings=$(MANWIDTH=80 man --warnings -l ./kestin.1 2>&1 >/dev/null)
        [[ -z "$warnings" ]] || fail "man --warnings: $warnings"
        if command -v groff >/dev/null; then
            warnings=$(groff -ww -z -man -Tutf8 kestin.1 2>&1)
            [[ -z "$warnings" ]] || fail "groff -ww: $warnings"
        fi
        # The sections a section-1 page has, in their order.
        sections=$(grep '^\.SH' kestin.1 | sed 's/^\.SH *//; s/"//g' | tr '\n' '|')
        want='NAME|SYNOPSIS|DESCRIPTION|OPTIONS|KEYS|EXIT STATUS|ENVIRONMENT|FILES|EXAMPLES|NOTES|SEE ALSO|'
        [[ "$sections" == "$want" ]] || fail "kestin.1 sections are $sections, expected $want"
        [[ $failed -eq 0 ]] && echo "ok: kestin.1 renders cleanly"
        ;;
    *)
        sed -n '4,9p' "$0" >&2
        exit 2
        ;;
esac
exit $failed
