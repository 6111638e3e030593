#!/usr/bin/env bash
# The built Rovane.dll itself under Wine, against the virtual autoloader on a pseudo-terminal, and
# the same host scripts in the simulated world: both must give the same export results, the same
# selected-recorder lines, the same message boxes and the same robot commands in the same order
# (the times differ: Wine runs in real time).
#
#   scripts/wine-check.sh [x86-64|i686 ...]     default: both
#
# With WINE_CHECK_KEEP=DIR the outputs of every run (host.txt from Wine, serve.txt from the
# pseudo-terminal's far end, sim.txt from the simulated world) are copied to DIR.
#
# For each Windows build (build/win64, build/win32: Rovane.dll, rovane-host.exe and the stand-in
# engine libraries KT.dll, Dorquel.dll, KTSDKPLS.dll beside it) it makes a fresh Wine prefix with
# COM1 mapped to the pseudo-terminal of `rovane-sim serve`, the module's data folder registered,
# the disc printer listed in the spooler and the settings file of the last session; then, for each
# script of tests/wine/, it starts `rovane-sim serve`, runs rovane-host.exe under Wine on an Xvfb
# display, stops serve, runs `rovane-sim host` with the same script and machine, and compares.
# Before that, both hosts read every case of tests/tool/host_script_cases.sh with --check and must
# read it alike.
#
# A machine whose kernel cannot run 32-bit programs (no IA-32 emulation) cannot run 32-bit Wine;
# the i686 build is then skipped with that reason, and the run fails only if nothing ran at all.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
arches=("$@")
((${#arches[@]})) || arches=(x86-64 i686)

bash scripts/install-deps.sh --wine
bash scripts/install-deps.sh

# --- builds ---------------------------------------------------------------------------------
tool="$root/build/sim/bin/rovane-sim"
if [ ! -x "$tool" ]; then
  cmake --preset sim >/dev/null
  cmake --build --preset sim --target rovane-sim
fi
for arch in "${arches[@]}"; do
  preset=$([ "$arch" = i686 ] && echo win32 || echo win64)
  if [ ! -f "build/$preset/bin/rovane-host.exe" ]; then
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
  fi
done

work="$(mktemp -d /tmp/rovane-wine.XXXXXX)"
serve_pid=""
xvfb_pid=""
cleanup() {
  [ -n "$serve_pid" ] && kill "$serve_pid" 2>/dev/null || true
  for prefix in "$work"/prefix-*; do
    [ -d "$prefix" ] && WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# One X display for every run: Wine's windows (message boxes, dialogs) need one.
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
export WINEDEBUG=-all
# No Mono or Gecko installers at prefix creation.
export WINEDLLOVERRIDES="mscoree,mshtml="

# The machine of each script, as flags of both `rovane-sim serve` and `rovane-sim host`.
machine_flags() {
  local flags=(--no-label-app --printer "Pellan IV" --setting "Printer=Pellan IV")
  [ "$1" = robot-off ] && flags+=(--robot-off)
  printf '%s\n' "${flags[@]}"
}

windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# The lines both runs must agree on: each call with its result (the wait's poll count and all
# times left out), what the call returned in its buffers, and the message boxes with their buttons,
# texts and answers (the simulated world also knows a box's style flags; Windows does not say).
calls() {
  sed -nE \
    -e 's/^[0-9]+ (wait [0-9]+ -> [0-9]+) after [0-9]+ polls$/\1/p;t' \
    -e 's/^[0-9]+ ([a-z].*)$/\1/p;t' \
    -e 's/^    ((recorder|product|text|state=).*)$/  \1/p;t' \
    -e 's/^    [0-9]+ msgbox shown (caption="[^"]*") (flags=0x[0-9a-f]+ )?(buttons=.*)$/  msgbox \1 \3/p;t' \
    -e 's/^    [0-9]+ msgbox answered (.*)$/  answered \1/p;t' \
    "$1"
}
# The robot's commands in the order they arrived (the status queries left out by both).
wire() { sed -nE 's/^    [0-9]+ (_.*)$/\1/p' "$1"; }

compare() {  # name, what, file a, file b
  if ! diff -u --label "$3" --label "$4" <("$2" "$3") <("$2" "$4") >"$work/diff"; then
    echo "FAILED: $1: the $2 differ between Wine and the simulated world:"
    cat "$work/diff"
    return 1
  fi
}

ran=0
failed=0
for arch in "${arches[@]}"; do
  if [ "$arch" = i686 ]; then launcher=/usr/lib/wine/wine; bin="$root/build/win32/bin"
  else launcher=/usr/lib/wine/wine64; bin="$root/build/win64/bin"; fi
  if ! "$launcher" --version >/dev/null 2>"$work/launcher.err"; then
    echo "wine-check $arch: skipped: $launcher cannot run on this machine ($(head -c 200 "$work/launcher.err" | tr '\n' ' '))"
    echo "  (a kernel without IA-32 emulation cannot run 32-bit programs, so 32-bit Wine cannot start)"
    continue
  fi
  prefix="$work/prefix-$arch"
  export WINEPREFIX="$prefix"
  echo "wine-check $arch: $($launcher --version), prefix $prefix"
  timeout 300 "$launcher" wineboot -i >/dev/null 2>&1
  reg() { "$launcher" reg add "$@" /f >/dev/null; }
  # COM1 is the pseudo-terminal; Wine reads the mapping when its server starts.
  reg 'HKLM\Software\Wine\Ports' /v COM1 /d "$work/com1"
  # The host's data folder, where the module keeps its settings and its log.
  for keyword in VeltoDVD Fenwit Quessa; do
    reg "HKLM\\Software\\Marlune\\$keyword" /v DataPath /d 'C:\ProgramData\Marlune\'
  done
  # The disc printer in the spooler's list, on the parallel port, as the simulated spooler lists it.
  printer_key='HKLM\System\CurrentControlSet\Control\Print\Printers\Pellan IV'
  reg "$printer_key" /v Name /d "Pellan IV"
  reg "$printer_key" /v Port /d "LPT1:"
  reg "$printer_key" /v "Printer Driver" /d "Pellan IV Driver"
  reg "$printer_key" /v Attributes /t REG_DWORD /d 64
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
  # The server starts anew with the port mapping, here rather than from the host program, so that
  # what it prints when it is stopped does not land in the host program's output.
  /usr/lib/wine/wineserver -p >/dev/null 2>&1
  data="$prefix/drive_c/ProgramData/Marlune"
  mkdir -p "$data"

  # The script reader both hosts share: each case of tests/tool/host_script_cases.sh is read alike
  # by rovane-host.exe --check and rovane-sim host --check (the calls as read, or the message with
  # its line, and the exit code).
  cases="$work/cases-$arch"
  mkdir -p "$cases"
  bash tests/tool/host_script_cases.sh "$cases"
  read_alike=0
  while IFS=$'\t' read -r name _ _; do
    script="$cases/$name.txt"
    win_status=0 sim_status=0
    "$launcher" "$bin/rovane-host.exe" --check "$(windows_path "$script")" >"$cases/$name.win" 2>"$cases/$name.win.err" \
      || win_status=$?
    "$tool" host --check "$script" >"$cases/$name.sim" 2>"$cases/$name.sim.err" || sim_status=$?
    win_err="$(cat "$cases/$name.win.err")" sim_err="$(cat "$cases/$name.sim.err")"
    win_err="${win_err/#"rovane-host: $(windows_path "$script"):"/SCRIPT:}"
    sim_err="${sim_err/#"rovane-sim host: $script:"/SCRIPT:}"
    if [ "$win_status" != "$sim_status" ] || ! cmp -s "$cases/$name.win" "$cases/$name.sim" || [ "$win_err" != "$sim_err" ]; then
      echo "FAILED: $arch: the script $name is read otherwise by rovane-host.exe (exit $win_status) and rovane-sim host (exit $sim_status):"
      diff -u --label rovane-host.exe --label "rovane-sim host" <(cat "$cases/$name.win"; echo "$win_err") \
        <(cat "$cases/$name.sim"; echo "$sim_err") || true
      failed=1
    fi
    read_alike=$((read_alike + 1))
  done <"$cases/cases"
  echo "wine-check $arch: $read_alike scripts read alike by both hosts (--check)"

  for script in tests/wine/*.txt; do
    name="$(basename "$script" .txt)"
    out="$work/$arch-$name"
    mkdir -p "$out/share"
    mapfile -t flags < <(machine_flags "$name")
    "$tool" serve --pty "$work/com1" --share "$out/share" "${flags[@]}" >"$out/serve.txt" 2>"$out/serve.err" &
    serve_pid=$!
    for _ in $(seq 100); do [ -f "$out/share/units.txt" ] && break; sleep 0.1; done
    [ -f "$out/share/units.txt" ] || { echo "FAILED: $arch $name: serve did not start"; cat "$out/serve.err"; exit 1; }
    # The settings file as the last session left it: the recorders' places by serial number, and
    # the machine's settings keys.
    {
      printf '[PORTS]\r\n'
      while read -r unit letter position serial; do
        [ "$unit" = end ] && break
        printf 'Drive%dSerial=%s\r\n' "$(($(printf '%d' "'$position") - 64))" "$serial"
      done <"$out/share/units.txt"
      for ((i = 0; i < ${#flags[@]}; i++)); do
        [ "${flags[$i]}" = --setting ] && printf '%s\r\n' "${flags[$((i + 1))]}"
      done
    } >"$data/ROVANE_QIX.INI"
    rm -f "$data/Rovane_QIX.dbg"
    host_status=0
    ROVANE_ENGINE_DIR="$(windows_path "$out/share")" timeout 600 "$launcher" "$bin/rovane-host.exe" \
      "$(windows_path "$root/$script")" >"$out/host.txt" 2>"$out/host.err" || host_status=$?
    kill -TERM "$serve_pid"
    serve_status=0
    wait "$serve_pid" || serve_status=$?
    serve_pid=""
    "$tool" host "$script" "${flags[@]}" --wire >"$out/sim.txt" 2>"$out/sim.err" || true

    ok=1
    [ "$host_status" = 0 ] || { echo "FAILED: $arch $name: rovane-host.exe exited with $host_status"; ok=0; }
    [ "$serve_status" = 0 ] || { echo "FAILED: $arch $name: serve exited with $serve_status"; ok=0; }
    compare "$arch $name" calls "$out/host.txt" "$out/sim.txt" || ok=0
    compare "$arch $name" wire "$out/serve.txt" "$out/sim.txt" || ok=0
    if [ "$ok" = 1 ]; then
      echo "wine-check $arch $name: same calls, results and messages ($(calls "$out/host.txt" | wc -l) lines)," \
        "same $(wire "$out/serve.txt" | wc -l) robot commands; $(grep -c '^place' "$out/serve.txt" || true) places at the end"
    else
      failed=1
      for f in host.txt host.err serve.txt serve.err sim.txt; do echo "--- $f"; cat "$out/$f"; done
      [ -f "$data/Rovane_QIX.dbg" ] && { echo "--- the module's log"; tr -d '\r' <"$data/Rovane_QIX.dbg" | tail -60; }
    fi
    ran=$((ran + 1))
    [ -z "${WINE_CHECK_KEEP:-}" ] || { mkdir -p "$WINE_CHECK_KEEP"; cp -r "$out" "$WINE_CHECK_KEEP/"; }
  done
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
done

[ "$failed" = 0 ] || exit 1
[ "$ran" -gt 0 ] || { echo "FAILED: no Windows build could run under Wine on this machine"; exit 1; }
echo "wine-check: $ran runs, all agree"
