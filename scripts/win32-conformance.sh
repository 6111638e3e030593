#!/usr/bin/env bash
# Win32 conformance: the same C program of cases (tests/win32-conformance) built against the
# simulated world's Win32 subset and, with mingw-w64, for Windows, run under Wine. Windows is the
# judge: each Wine run must print what the world prints, and both what expected.txt holds (the
# output recorded under Wine x86-64, which the CTest Win32Conformance.MatchesWindows holds the world
# to on machines without Wine).
#
#   scripts/win32-conformance.sh [x86-64|i686 ...]     default: both
#
# Environment: CONFORMANCE_NATIVE_BUILD the Linux build folder (default build/sim, made with the
# sim preset when missing); CONFORMANCE_RUNS runs per architecture (default 1); CONFORMANCE_KEEP=DIR
# keeps every output there.
#
# Per architecture: a fresh Wine prefix under /tmp with COM1 mapped to a pseudo-terminal whose far
# end echoes (pty_echo.py), COM7 unmapped, the printer "Conformance Printer" listed in the
# spooler's registry on LPT1:, and an Xvfb display for the message boxes and dialogs. A kernel
# that cannot run 32-bit programs cannot run 32-bit Wine: i686 is then skipped with that reason,
# and the script fails only if nothing ran.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
arches=("$@")
((${#arches[@]})) || arches=(x86-64 i686)
for arch in "${arches[@]}"; do
  case "$arch" in
    x86-64 | i686) ;;
    *) echo "win32-conformance: unknown architecture $arch (x86-64 or i686)"; exit 2 ;;
  esac
done
runs="${CONFORMANCE_RUNS:-1}"
native_build="${CONFORMANCE_NATIVE_BUILD:-build/sim}"
expected="$root/tests/win32-conformance/expected.txt"

for tool in /usr/lib/wine/wine64 /usr/lib/wine/wine Xvfb x86_64-w64-mingw32-gcc i686-w64-mingw32-gcc python3; do
  command -v "$tool" >/dev/null 2>&1 || { bash scripts/install-deps.sh --wine; bash scripts/install-deps.sh; break; }
done

# --- builds: the world's program and each Windows build's ------------------------------------
build_log="$(mktemp /tmp/rovane-conformance-build.XXXXXX)"
built() {  # what, command...: runs the build quietly, shows its output when it fails
  local what="$1"; shift
  if ! "$@" >"$build_log" 2>&1; then
    echo "FAILED: building $what:"; tail -40 "$build_log"; rm -f "$build_log"; exit 1
  fi
}
if [ ! -f "$native_build/CMakeCache.txt" ]; then built "the sim preset" cmake --preset sim; fi
built "the world's win32-conformance" cmake --build "$native_build" -j2 --target win32-conformance
native_program="$root/$native_build/bin/win32-conformance"
for arch in "${arches[@]}"; do
  preset=$([ "$arch" = i686 ] && echo win32 || echo win64)
  built "win32-conformance.exe ($preset)" flock "/tmp/$preset.lock" sh -c \
    "cmake --preset $preset >/dev/null && cmake --build --preset $preset --target win32-conformance"
done
rm -f "$build_log"

work="$(mktemp -d /tmp/rovane-conformance.XXXXXX)"
echo_pid=""
xvfb_pid=""
cleanup() {
  [ -n "$echo_pid" ] && kill "$echo_pid" 2>/dev/null || true
  for prefix in "$work"/prefix-*; do
    [ -d "$prefix" ] && WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  if [ -n "${CONFORMANCE_KEEP:-}" ]; then mkdir -p "$CONFORMANCE_KEEP"; cp "$work"/*.txt "$CONFORMANCE_KEEP"/ 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$native_program" >"$work/world.txt"
cases() { grep -c ': ' "$1"; }

# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh
start_wine_display

ran=0
failed=0
for arch in "${arches[@]}"; do
  if [ "$arch" = i686 ]; then launcher=/usr/lib/wine/wine; preset=win32
  else launcher=/usr/lib/wine/wine64; preset=win64; fi
  wine_runs "$launcher" "win32-conformance $arch" || continue
  prefix="$work/prefix-$arch"
  export WINEPREFIX="$prefix"
  timeout 300 "$launcher" wineboot -i >/dev/null 2>&1
  reg() { "$launcher" reg add "$@" /f >/dev/null; }
  # COM1: the pseudo-terminal's slave.
  reg 'HKLM\Software\Wine\Ports' /v COM1 /d "$work/com1"
  # The printer, with the print processor Wine's spooler needs to open it; what its port LPT1:
  # receives goes to a file (Wine's spooler cannot end a document on a port that goes nowhere).
  printer_key='HKLM\System\CurrentControlSet\Control\Print\Printers\Conformance Printer'
  reg "$printer_key" /v Name /d "Conformance Printer"
  reg "$printer_key" /v Port /d "LPT1:"
  reg "$printer_key" /v "Printer Driver" /d "Conformance Driver"
  reg "$printer_key" /v "Print Processor" /d "winprint"
  reg "$printer_key" /v Datatype /d "RAW"
  reg "$printer_key" /v Attributes /t REG_DWORD /d 64
  reg 'HKCU\Software\Wine\Printing\Spooler' /v 'LPT1:' /d "$work/lpt1-$arch.out"
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -p >/dev/null 2>&1
  # COM9 is the port that is not there: Wine links a COM port to each serial device of the
  # machine when its services start; the link of COM9, if any, goes once they have.
  "$launcher" cmd /c exit >/dev/null 2>&1 || true
  rm -f "$prefix/dosdevices/com9"

  python3 tests/win32-conformance/pty_echo.py "$work/com1" >"$work/echo.out" 2>&1 &
  echo_pid=$!
  for _ in $(seq 50); do grep -q ready "$work/echo.out" 2>/dev/null && break; sleep 0.1; done
  grep -q ready "$work/echo.out" || { echo "FAILED: $arch: the pseudo-terminal did not start"; cat "$work/echo.out"; exit 1; }

  for run in $(seq "$runs"); do
    out="$work/wine-$arch-$run.txt"
    status=0
    timeout 150 "$launcher" "$root/build/$preset/bin/win32-conformance.exe" >"$out" 2>"$work/wine-$arch-$run.err" || status=$?
    differences=0
    if [ "$status" != 0 ]; then
      echo "FAILED: $arch run $run: win32-conformance.exe exited with $status"; cat "$work/wine-$arch-$run.err"; differences=1
    fi
    if ! diff -u --label "Wine $arch" --label "simulated world" "$out" "$work/world.txt" >"$work/diff"; then
      echo "FAILED: $arch run $run: Wine and the simulated world differ:"; cat "$work/diff"
      differences=$((differences + $(grep -c '^[-+][^-+]' "$work/diff" || true)))
    fi
    if ! diff -u --label "expected.txt" --label "Wine $arch" "$expected" "$out" >"$work/diff"; then
      echo "FAILED: $arch run $run: Wine differs from expected.txt:"; cat "$work/diff"
      differences=$((differences + $(grep -c '^[-+][^-+]' "$work/diff" || true)))
    fi
    echo "win32-conformance $arch: $(cases "$out") cases, $differences differences$([ "$runs" = 1 ] || echo " (run $run of $runs)")"
    [ "$differences" = 0 ] || failed=1
    ran=$((ran + 1))
  done
  kill "$echo_pid" 2>/dev/null || true
  wait "$echo_pid" 2>/dev/null || true
  echo_pid=""
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
done

[ "$ran" -gt 0 ] || { echo "FAILED: no Windows build could run under Wine on this machine"; exit 1; }
[ "$failed" = 0 ] || exit 1
