#!/usr/bin/env bash
# Installs what the build needs (on Debian), builds everything and runs every test:
#   - Rovane.dll for 32-bit Windows (i686, PE32) and for 64-bit Windows (x86-64, PE32+),
#     checked for their format and their undecorated exports;
#   - the Linux simulation build: the module, the simulated world, the tools and the tests,
#     which CTest then runs (one test per process);
#   - the built DLLs themselves under Wine, each against the virtual autoloader on a
#     pseudo-terminal, compared with the same host scripts in the simulated world
#     (scripts/wine-check.sh; a machine that cannot run 32-bit programs runs the 64-bit one only).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
bash scripts/check_dll.sh build/win32/bin/Rovane.dll pei-i386
bash scripts/check_dll.sh build/win64/bin/Rovane.dll pei-x86-64
bash scripts/check_engine_dlls.sh build/win32/bin pei-i386
bash scripts/check_engine_dlls.sh build/win64/bin pei-x86-64

cmake --preset sim >/dev/null
cmake --build --preset sim
ctest --preset sim

bash scripts/wine-check.sh
