#!/usr/bin/env bash
# Installs what is missing, builds kestin and kestin.exe, and runs every test layer
# from CTest: unit tests, process tests of both programs, terminal and Wine tests;
# makes and checks the release packages; then the unit, process and fault tests
# once more on a build under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --all

jobs=$(nproc)
cmake --preset windows
cmake --build --preset windows -j "$jobs"
cmake --preset native -DKESTIN_WINDOWS_EXE="$PWD/build/windows/kestin.exe"
cmake --build --preset native -j "$jobs"
# A Wine console window on Xvfb can be slow to appear on a loaded machine; a test
# that fails gets one more run, and a second failure fails the whole run.
ctest --preset native -j "$jobs" --repeat until-pass:2

# The release packages: both made, then each unpacked again and its program run from it.
scripts/package.sh

# The sanitizer build: the program and the test programs only (the Wine tests of
# kestin.exe are not repeated, as no kestin.exe is named to it).
cmake --preset sanitize
cmake --build --preset sanitize -j "$jobs"
ctest --preset sanitize -j "$jobs"
