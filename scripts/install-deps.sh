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
# (Where 32-bit Wine could not be installed in the last six hours, it is not tried again: each
# try waits on the mirror a minute or more, and every Wine check asks.)
no_wine32=/tmp/rovane-install-deps-no-wine32
need=()
for pkg in "${packages[@]}"; do
  if [[ "$pkg" = *:i386 ]] && [ -n "$(find "$no_wine32" -mmin -360 2>/dev/null)" ]; then continue; fi
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
# A mirror in the middle of a sync serves a package list of the wrong size ("Mirror sync in
# progress?"): the lists are fetched again, up to three times, and the install is tried with
# whatever lists were had (a failed update keeps the old ones), twice.
for attempt in 1 2 3; do
  if "${sudo[@]}" apt-get update -qq; then break; fi
  echo "install-deps: apt-get update failed (attempt $attempt of 3)" >&2
  [ "$attempt" = 3 ] || sleep 10
done
apt_install() { "${sudo[@]}" apt-get install -y -qq "$@" >/dev/null; }
apt_install "${need[@]}" && exit 0
sleep 10
"${sudo[@]}" apt-get update -qq || true
apt_install "${need[@]}" && exit 0
# 32-bit Wine needs the i386 lists, which a mirror may serve broken for longer: Wine is then
# installed without it, and the checks that run 32-bit programs say they were skipped and why
# (as on a machine whose kernel cannot run them).
if [ "${1:-}" = --wine ]; then
  rest=()
  for pkg in "${need[@]}"; do [[ "$pkg" = *:i386 ]] || rest+=("$pkg"); done
  echo "install-deps: 32-bit Wine could not be installed; installing ${rest[*]:-nothing more}" >&2
  touch "$no_wine32"
  ((${#rest[@]})) || exit 0
  apt_install "${rest[@]}" && exit 0
fi
echo "install-deps: apt-get install ${need[*]} failed" >&2
exit 1
