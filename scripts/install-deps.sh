#!/usr/bin/env bash
# Installs the Debian packages the build needs that are missing (nothing when all are there).
#   scripts/install-deps.sh          everything: the Linux simulation, its tests and both DLLs
#   scripts/install-deps.sh --sim    only what the simulation and its tools need
set -euo pipefail
packages=(cmake g++ make libgtest-dev libcli11-dev nlohmann-json3-dev)
[ "${1:-}" = --sim ] || packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64)
need=()
for pkg in "${packages[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
((${#need[@]})) || exit 0
echo "installing ${need[*]}" >&2
sudo=()
[ "$(id -u)" = 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${need[@]}" >/dev/null
