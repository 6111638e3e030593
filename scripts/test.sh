#!/usr/bin/env bash
# Installs what the build needs (on Debian), builds everything and runs every test:
#   - Rovane.dll for 32-bit Windows (i686, PE32) and for 64-bit Windows (x86-64, PE32+),
#     checked for their format and their undecorated exports;
#   - the Linux simulation build: the module, the simulated world, the tools and the tests,
#     which CTest then runs (one test per process).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
bash scripts/check_dll.sh build/win32/bin/Rovane.dll pei-i386
bash scripts/check_dll.sh build/win64/bin/Rovane.dll pei-x86-64

cmake --preset sim >/dev/null
cmake --build --preset sim
ctest --preset sim
