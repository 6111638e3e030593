#!/usr/bin/env bash
# Installs the Debian packages the build needs that are missing (nothing when all are there).
#   scripts/install-deps.sh          everything: the Linux simulation, its tests, both DLLs, the
#                                    fuzz targets (clang with its sanitizer and fuzzer runtimes) and
#                                    chromium, which loads the timeline page headless; llvm
#                                    (llvm-dlltool makes the import library for MSVC of the release
#                                    archive, llvm-nm and llvm-readobj read it) and lld (lld-link
#                                    links a test against it as MSVC's linker would)
#   scripts/install-deps.sh --sim    only what the simulation and its tools need
#   scripts/install-deps.sh --wine   Wine (64-bit, and 32-bit from the i386 architecture) and Xvfb,
#                                    for running the built DLLs under Windows semantics
set -euo pipefail
# time: /usr/bin/time, which measures rovane-log's peak memory in its check; parallel: GNU
# parallel, which spreads a swarm campaign's shards (scripts/sharded-swarm.sh)
packages=(cmake g++ make libgtest-dev libcli11-dev nlohmann-json3-dev time)
case "${1:-}" in
  --sim) ;;
  --wine) packages=(wine64 wine32:i386 xvfb) ;;
  *) packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
                clang libclang-rt-dev chromium llvm lld parallel) ;;
esac
need=()
for pkg in "${packages[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
((${#need[@]})) || exit 0
echo "installing ${need[*]}" >&2
sudo=()
[ "$(id -u)" = 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
# 32-bit Wine comes from Debian's i386 architecture.
if [ "${1:-}" = --wine ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
# A mirror in the middle of a sync serves a package list of the wrong size for a few minutes
# ("Mirror sync in progress?"): the lists are fetched again, up to three times, and the install
# is tried with whatever lists were had (a failed update keeps the old ones), itself up to three
# times.
for attempt in 1 2 3; do
  if "${sudo[@]}" apt-get update -qq; then break; fi
  echo "install-deps: apt-get update failed (attempt $attempt of 3)" >&2
  [ "$attempt" = 3 ] || sleep 20
done
for attempt in 1 2 3; do
  if "${sudo[@]}" apt-get install -y -qq "${need[@]}" >/dev/null; then exit 0; fi
  echo "install-deps: apt-get install failed (attempt $attempt of 3)" >&2
  [ "$attempt" = 3 ] && exit 1
  sleep 20
  "${sudo[@]}" apt-get update -qq || true
done
