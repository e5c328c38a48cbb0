#!/usr/bin/env bash
# Makes both release packages in build/packages and checks them:
#   kestin-<version>-windows-x86_64.zip   kestin.exe and the README (cross-built with mingw-w64)
#   kestin-<version>-linux-x86_64.tar.gz  bin/kestin, its manual page and the README
# Each package is then unpacked afresh and the program's help is run from it (kestin.exe
# under Wine when Wine is installed) by tests/package/check_packages.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --all

jobs=$(nproc)
cmake --preset windows
cmake --build --preset windows -j "$jobs"
cmake --preset native
cmake --build --preset native -j "$jobs"

out=$PWD/build/packages
rm -f "$out"/kestin-*
mkdir -p "$out"
cpack --config build/windows/CPackConfig.cmake -B "$out"
cpack --config build/native/CPackConfig.cmake -B "$out"
rm -rf "$out/_CPack_Packages"

tests/package/check_packages.sh "$out"/kestin-*-windows-*.zip "$out"/kestin-*-linux-*.tar.gz
