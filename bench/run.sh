#!/usr/bin/env bash
# bench/run.sh - installs the peers the benchmark compares Kestin with, builds the
# harness, the floor program, kestin and (when mingw-w64 is there) kestin.exe, and
# prints the results as markdown on standard output (progress goes to standard error).
#
#   bench/run.sh                 full run (about 4 minutes)
#   bench/run.sh --quick         fewer rounds, for a first look
#   bench/run.sh --no-build ...  measure the binaries already built
# Other arguments go to the harness (see build/bench/kestin-bench --help).
set -euo pipefail
cd "$(dirname "$0")/.."

build=1
args=()
for a in "$@"; do
  case "$a" in
    --no-build) build=0 ;;
    --quick) args+=(--ready-rounds 5 --rounds 2 --idle-rounds 1 --idle-seconds 5) ;;
    *) args+=("$a") ;;
  esac
done

# The peers and the tools the harness needs, from Debian's packages.
want=(g++ cmake make libvterm-dev valgrind zsh fish dialog python3)
missing=()
for pkg in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  sudo=()
  [[ $(id -u) -ne 0 ]] && sudo=(sudo)
  echo "bench: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q >&2
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi

if [[ $build -eq 1 ]]; then
  {
    cmake -S bench -B build/bench -DCMAKE_BUILD_TYPE=Release
    cmake --build build/bench
    cmake --preset native
    cmake --build --preset native --target kestin
    if command -v x86_64-w64-mingw32-g++ >/dev/null; then
      cmake --preset windows
      cmake --build --preset windows --target kestin
    fi
  } >&2
fi

exe=()
[[ -f build/windows/kestin.exe ]] && exe=(--kestin-exe build/windows/kestin.exe)
exec build/bench/kestin-bench --floor build/bench/floor --kestin build/native/kestin "${exe[@]}" "${args[@]}"
