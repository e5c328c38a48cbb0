#!/usr/bin/env bash
# Installs what is missing, builds kestin and kestin.exe, and runs every test layer
# from CTest: unit tests, process tests of both programs, terminal and Wine tests.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --all

jobs=$(nproc)
cmake --preset windows
cmake --build --preset windows -j "$jobs"
cmake --preset native -DKESTIN_WINDOWS_EXE="$PWD/build/windows/kestin.exe"
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"
