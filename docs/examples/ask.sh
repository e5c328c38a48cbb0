#!/bin/sh
# ask.sh - asks for a name with Kestin, offering the current one for editing.
NAME=${NAME:-World}
export NAME                      # kestin reads the value from its environment
out=$(mktemp) || exit 1
kestin -v NAME -f "$out" -l 40 -p "Your name: "
status=$?
case $status in
    0) ;;
    1) echo "Cancelled with Ctrl+C."; exit 1 ;;   # kestin has deleted $out
    2) echo "No name given."; exit 1 ;;           # likewise
    3) echo "Kestin was called wrongly."; rm -f "$out"; exit 1 ;;
    *) echo "Kestin failed with status $status."; rm -f "$out"; exit 1 ;;
esac
# $out holds one line: SET NAME=value, then CR LF. Take the value out with
# parameter expansion; never source the file: the value is not quoted.
line=$(cat "$out")               # $( ) drops the LF
rm -f "$out"
cr=$(printf '\r')
line=${line%"$cr"}               # drop the CR
NAME=${line#SET NAME=}           # drop the prefix
printf 'Hello, %s!\n' "$NAME"
