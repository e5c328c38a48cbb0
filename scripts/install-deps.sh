#!/usr/bin/env bash
# Installs what building and testing Kestin needs on a Debian machine, skipping
# what is already there. With --build only the native build tools; with --all
# also the Windows cross compiler and the test tools (Wine, Xvfb, xdotool, libvterm).
set -euo pipefail

want=(g++ cmake make libgtest-dev libgmock-dev)
if [[ "${1:---all}" == "--all" ]]; then
  want+=(g++-mingw-w64-x86-64 wine64 xvfb xdotool libvterm-dev pkg-config)
fi

missing=()
for pkg in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
