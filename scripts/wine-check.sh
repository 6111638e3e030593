#!/usr/bin/env bash
# Windows is the judge: the built Rovane.dll itself under Wine, against the virtual autoloader on
# a pseudo-terminal, and the same host scripts in the simulated world. For every scenario of
# tests/scenarios/ both runs must give the same export calls and results, the same buffers, the
# same message boxes (caption, text, buttons, icon, default button) and answers, the same dialogs
# shown, the same robot commands in the same order, and the same discs in the same places at the
# end. Times differ (Wine runs in real time); order must not.
#
#   scripts/wine-check.sh [x86-64|i686 ...]     default: both, side by side
#
#   WINE_CHECK_ONLY="NAME ..."   only these scenarios (names of tests/scenarios/NAME.txt)
#   WINE_CHECK_REPEAT=N          run every scenario N times in a row; every round must agree
#   WINE_CHECK_LANES=N           prefixes per architecture running scenarios side by side (default 3)
#   WINE_CHECK_SPEED=F           the machine's motions F times quicker in both worlds (serve and
#                                host --speed F): less real time per scenario
#   WINE_CHECK_KEEP=DIR          copy the outputs of every run (host.txt from Wine, serve.txt from
#                                the pseudo-terminal's far end, sim.txt from the simulated world)
#
# For each Windows build (build/win64, build/win32: Rovane.dll, rovane-host.exe and the stand-in
# engine libraries KT.dll, Dorquel.dll, KTSDKPLS.dll beside it) it makes fresh Wine prefixes with
# the module's data folder registered; for each scenario it maps the robot's port to the
# pseudo-terminal of serve (the other ports empty, see robot_port), puts the printers of its
# machine in the spooler and the settings file its machine implies in place, starts
# `rovane-sim serve`, runs rovane-host.exe under Wine on an Xvfb display, stops serve once the host
# program has ended (serve first takes in all the module wrote), runs `rovane-sim host` with the
# same script and machine, and compares. Before that, both hosts read every case of
# tests/tool/host_script_cases.sh with --check and must read it alike.
#
# The two architectures run side by side, and each in lanes (WINE_CHECK_LANES), each lane in its own
# prefix: the runs wait on the machine's real time, hardly on its processors.
#
# A machine whose kernel cannot run 32-bit programs (no IA-32 emulation) cannot run 32-bit Wine;
# the i686 build is then skipped with that reason, and the run fails only if nothing ran at all.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
arches=("$@")
((${#arches[@]})) || arches=(x86-64 i686)
repeat="${WINE_CHECK_REPEAT:-1}"
lanes="${WINE_CHECK_LANES:-3}"

bash scripts/install-deps.sh --wine
bash scripts/install-deps.sh

# --- builds ---------------------------------------------------------------------------------
tool="$root/build/sim/bin/rovane-sim"
if [ ! -x "$tool" ] || [ ! -x "$root/build/sim/bin/rovane-log" ]; then
  cmake --preset sim >/dev/null
  cmake --build --preset sim --target rovane-sim rovane-log
fi
for arch in "${arches[@]}"; do
  preset=$([ "$arch" = i686 ] && echo win32 || echo win64)
  if [ ! -f "build/$preset/bin/rovane-host.exe" ]; then
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
  fi
done

# --- the scenarios ----------------------------------------------------------------------------
# A scenario that needs hands at the machine (or the label application) says "# Only the world
# runs this one: WHY"; it is left out here, and said so.
scenarios=()
world_only=()
for script in tests/scenarios/*.txt; do
  name="$(basename "$script" .txt)"
  if [ -n "${WINE_CHECK_ONLY:-}" ] && [[ " $WINE_CHECK_ONLY " != *" $name "* ]]; then continue; fi
  if grep -q '^# Only the world runs this one' "$script"; then world_only+=("$name"); continue; fi
  scenarios+=("$name")
done
((${#world_only[@]} == 0)) || echo "wine-check: ${#world_only[@]} scenarios only the world runs (they need hands at the machine): ${world_only[*]}"
((${#scenarios[@]})) || { echo "FAILED: no scenario in tests/scenarios/ matches '${WINE_CHECK_ONLY:-}'"; exit 1; }

work="$(mktemp -d /tmp/rovane-wine.XXXXXX)"
xvfb_pid=""
cleanup() {
  for pid_file in "$work"/*/serve.pid; do
    [ -f "$pid_file" ] && kill "$(cat "$pid_file")" 2>/dev/null || true
  done
  for prefix in "$work"/prefix-*; do
    [ -d "$prefix" ] && WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh
start_wine_display

# The machine of a scenario: the words of its "# machine:" line, one a line, quotes as the shell
# reads them. They are the flags of both `rovane-sim serve` and `rovane-sim host`.
machine_flags() {
  local line
  line="$(sed -nE 's/^# machine:[[:space:]]*//p' "$1" | head -1)"
  [ -n "$line" ] && xargs printf '%s\n' <<<"$line"
  return 0
}

# --- what both runs must agree on ---------------------------------------------------------------
# Each call with its result (the wait's poll count and all times left out), what the call returned
# in its buffers, the message boxes with their caption, the flags a box shows on the screen
# (buttons, icon, default button, system-modal; the world records every flag, the Windows host
# reads back what the box shows), buttons, text and answer, and the dialogs shown. Windows that
# come up one after another with no answer between them are compared as a set (in sorted order):
# the module opens them from different threads (the printing dialog from the send thread while the
# host's thread shows the status message; the test's "IMPORTANT" box from the test thread while its
# dialog opens), they appear within the same few milliseconds in either order on Windows, and the
# Windows host, which looks every 50 ms, sees them together.
calls() {
  perl -ne '
    sub flush { print sort @shown; @shown = () }
    if (/^    \d+ msgbox shown (caption="[^"]*") flags=0x([0-9a-f]+) (buttons=.*)$/) {
      push @shown, sprintf("  msgbox %s flags=0x%x %s\n", $1, hex($2) & 0x1fff, $3); next }
    if (/^    \d+ (dialog \d+ shown caption="[^"]*")/) { push @shown, "  $1\n"; next }
    if (/^\d+ (wait \d+ -> \d+) after \d+ polls$/) { flush(); print "$1\n"; next }
    if (/^\d+ ([a-z].*)$/) { flush(); print "$1\n"; next }
    if (/^    ((recorder|product|text|state=).*)$/) { flush(); print "  $1\n"; next }
    if (/^    \d+ msgbox answered (.*)$/) { flush(); print "  answered $1\n"; next }
    END { flush() }
  ' "$1"
}
# The robot's commands in the order they arrived (the status queries left out by both).
wire() { sed -nE 's/^    [0-9]+ (_.*)$/\1/p' "$1"; }
# The laminator's commands and the documents printed, in the order they came (their own stream:
# they come from the print thread and the laminating steps, beside the robot's commands).
devices() { sed -nE 's/^    [0-9]+ ((lam|doc) .*)$/\1/p' "$1"; }
# Where the discs are at the end: "place NAME COUNT" for every place that holds discs.
places() { grep -E '^place ' "$1" || true; }

compare() {  # label, what, file a, file b
  if ! diff -u --label "$3" --label "$4" <("$2" "$3") <("$2" "$4") >"$(dirname "$3")/$2.diff"; then
    echo "FAILED: $1: the $2 differ between Wine and the simulated world:"
    cat "$(dirname "$3")/$2.diff"
    return 1
  fi
}

# --- one architecture ---------------------------------------------------------------------------
# The prefix, the robot's port, the printers and the settings file: scripts/wine-env.sh.
for n in 2 3; do
  [ ! -e "/dev/ttyS$n" ] || echo "wine-check: note: this machine has /dev/ttyS$n, which Wine opens for an empty COM$((n + 1)); a scenario that needs COM$((n + 1)) empty will differ"
done

# The script reader both hosts share: each case of tests/tool/host_script_cases.sh is read alike
# by rovane-host.exe --check and rovane-sim host --check (the calls as read, or the message with
# its line, and the exit code).
read_alike() {  # arch, launcher, bin
  local arch="$1" launcher="$2" bin="$3" cases="$work/cases-$1" name script win_status sim_status win_err sim_err n=0 bad=0
  mkdir -p "$cases"
  bash tests/tool/host_script_cases.sh "$cases"
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
      bad=1
    fi
    n=$((n + 1))
  done <"$cases/cases"
  echo "wine-check $arch: $n scripts read alike by both hosts (--check)"
  return "$bad"
}

# One scenario, one round: serve and Wine, then the world, then the comparison.
#
# Now and then on a loaded machine (4 times in the 1,460 runs of a 20-round check with 8 lanes),
# Wine 8's X11 driver ends rovane-host.exe with Xlib's fatal "X Error of failed request: BadMatch
# (invalid parameter attributes)" for an X_CreateGC, each time as the printing or laminating
# dialog opened, which the module shows minimized from a worker thread (Xvfb has no window
# manager, so Wine draws a minimized window itself): the program is gone in the middle of its
# script, so the run has no outcome to compare. Windows has no X server, so this is
# Wine's failure, not a difference between the module in two worlds: such a run (the host program
# ended by an X protocol error, nothing else) is said so and run once more, and that run must
# agree as any other. Each one is counted in the architecture's summary.
run_scenario() {  # arch, launcher, bin, name, round, lane [again]
  local arch="$1" launcher="$2" bin="$3" name="$4" round="$5" lane="$6" again="${7:-}"
  local script="tests/scenarios/$4.txt" out="$work/$1/$4${5:+.$5}${7:+.again}" data="$WINEPREFIX/drive_c/ProgramData/Marlune"
  local flags port serve_pid host_status=0 serve_status=0 ok=1 started
  mkdir -p "$out/share"
  mapfile -t flags < <(machine_flags "$script")
  port="$(flag_value --port "${flags[@]}")"
  port="${port:-COM1}"
  # WINE_CHECK_SPEED=F: the machine's motions F times quicker, in both worlds alike.
  [ -z "${WINE_CHECK_SPEED:-}" ] || flags+=(--speed "$WINE_CHECK_SPEED")
  started=$(date +%s)
  rm -f "$work/ports-$arch-$lane"/com[1-4]
  "$tool" serve --pty "$work/ports-$arch-$lane/${port,,}" --share "$out/share" "${flags[@]}" >"$out/serve.txt" 2>"$out/serve.err" &
  serve_pid=$!
  echo "$serve_pid" >"$out/serve.pid"
  for _ in $(seq 100); do [ -f "$out/share/units.txt" ] && break; sleep 0.1; done
  if [ ! -f "$out/share/units.txt" ]; then
    echo "FAILED: $arch $name: serve did not start"
    cat "$out/serve.err"
    return 1
  fi
  robot_port "$launcher" "$WINEPREFIX" "$work/ports-$arch-$lane" "$port"
  machine_printers "$launcher" "$WINEPREFIX" "$out/share/printers.txt"
  settings_file "$out/share/units.txt" "${flags[@]}" >"$data/ROVANE_QIX.INI"
  rm -f "$data/Rovane_QIX.dbg"
  ROVANE_ENGINE_DIR="$(windows_path "$out/share")" timeout 600 "$launcher" "$bin/rovane-host.exe" \
    "$(windows_path "$root/$script")" >"$out/host.txt" 2>"$out/host.err" || host_status=$?
  # serve takes in what the module wrote last (its final "_RESET" ...) before it ends; it is
  # killed only if it does not end within a minute.
  kill -TERM "$serve_pid" 2>/dev/null || true
  timeout 60 tail --pid="$serve_pid" -f /dev/null || kill -KILL "$serve_pid" 2>/dev/null || true
  wait "$serve_pid" || serve_status=$?
  rm -f "$out/serve.pid"
  cp "$data/Rovane_QIX.dbg" "$out/module.dbg" 2>/dev/null || true
  "$tool" host "$script" "${flags[@]}" --wire >"$out/sim.txt" 2>"$out/sim.err" || true

  if [ "$host_status" != 0 ] && [ -z "$again" ] && grep -q '^X Error of failed request' "$out/host.err"; then
    echo "wine-check $arch $name${round:+ (round $round)}: Wine's X11 driver ended rovane-host.exe on an X protocol" \
      "error ($(head -1 "$out/host.err" | sed 's/^X Error of failed request: *//'), $(grep -m1 'Major opcode' "$out/host.err" |
      sed 's/.*: *//')): not the module; the run is repeated"
    echo "$name${round:+ (round $round)}" >>"$work/$arch-x-errors"
    [ -z "${WINE_CHECK_KEEP:-}" ] || { mkdir -p "$WINE_CHECK_KEEP/$arch"; cp -r "$out" "$WINE_CHECK_KEEP/$arch/"; }
    run_scenario "$arch" "$launcher" "$bin" "$name" "$round" "$lane" again
    return
  fi
  [ "$host_status" = 0 ] || { echo "FAILED: $arch $name: rovane-host.exe exited with $host_status"; ok=0; }
  [ "$serve_status" = 0 ] || { echo "FAILED: $arch $name: serve exited with $serve_status"; ok=0; }
  compare "$arch $name" calls "$out/host.txt" "$out/sim.txt" || ok=0
  compare "$arch $name" wire "$out/serve.txt" "$out/sim.txt" || ok=0
  compare "$arch $name" devices "$out/serve.txt" "$out/sim.txt" || ok=0
  compare "$arch $name" places "$out/serve.txt" "$out/sim.txt" || ok=0
  if [ "$ok" = 1 ]; then
    echo "wine-check $arch $name${round:+ (round $round)}${again:+ (run again)}: agree: $(calls "$out/host.txt" | wc -l) call lines," \
      "$(wire "$out/serve.txt" | wc -l) robot commands, $(devices "$out/serve.txt" | wc -l) laminator commands and documents, $(places "$out/serve.txt" | wc -l) places; $(($(date +%s) - started)) s"
  else
    for f in host.txt host.err serve.txt serve.err sim.txt sim.err; do echo "--- $f"; cat "$out/$f"; done
    [ -f "$out/module.dbg" ] && { echo "--- the module's log"; tr -d '\r' <"$out/module.dbg" | tail -60; }
  fi
  [ -z "${WINE_CHECK_KEEP:-}" ] || { mkdir -p "$WINE_CHECK_KEEP/$arch"; cp -r "$out" "$WINE_CHECK_KEEP/$arch/"; }
  [ "$ok" = 1 ]
}

# One lane: its own prefix and ports, every lanes-th scenario from its own (the first lane also
# checks the script reader).
check_lane() {  # arch, lane, lanes
  local arch="$1" lane="$2" lanes="$3" launcher bin i round bad=0
  if [ "$arch" = i686 ]; then launcher=/usr/lib/wine/wine; bin="$root/build/win32/bin"
  else launcher=/usr/lib/wine/wine64; bin="$root/build/win64/bin"; fi
  mkdir -p "$work/$arch" "$work/ports-$arch-$lane"
  make_prefix "$launcher" "$work/prefix-$arch-$lane" "$work/ports-$arch-$lane"
  [ "$lane" != 1 ] || read_alike "$arch" "$launcher" "$bin" || bad=1
  for ((round = 1; round <= repeat; round++)); do
    for ((i = lane - 1; i < ${#scenarios[@]}; i += lanes)); do
      run_scenario "$arch" "$launcher" "$bin" "${scenarios[$i]}" "$([ "$repeat" -gt 1 ] && echo "$round")" "$lane" || bad=1
    done
  done
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  return "$bad"
}

# The real DLL's module logs, replayed in the world from the log alone (rovane-log replay, which
# reads the machine's speed from the log's motion times): measured and printed, not judged.
replay_module_logs() {  # arch
  local arch="$1" logs=() d
  for d in "$work/$arch"/*/; do [ -f "$d/module.dbg" ] && logs+=("$d"); done
  ((${#logs[@]} > 0)) || return 0
  python3 - "$root/build/sim/bin/rovane-log" "$arch" "${logs[@]}" <<'PY'
import json, os, subprocess, sys
tool, arch, dirs = sys.argv[1], sys.argv[2], sys.argv[3:]
jobs = same = whole = 0
other = []
for d in dirs:
    p = subprocess.run([tool, "replay", os.path.join(d, "module.dbg"), "--json"],
                       capture_output=True, text=True)
    if p.returncode == 2:
        continue  # no job in this scenario's log
    jobs += 1
    try:
        j = json.loads(p.stdout)
    except ValueError:
        other.append(os.path.basename(d.rstrip("/")) + " (no report)")
        continue
    same += bool(j.get("robot_same_order"))
    whole += p.returncode == 0
    if not j.get("robot_same_order"):
        other.append(os.path.basename(d.rstrip("/")))
print(f"wine-check {arch}: the module's logs replayed by rovane-log replay: {jobs} with a job, "
      f"{same} with every robot command in the same order, {whole} whole"
      + (f"; robot commands differ: {', '.join(other)}" if other else ""))
PY
}

check_arch() {  # arch: exit 0 when every scenario agreed, 1 when one did not
  local arch="$1" launcher lane bad=0 started pids=()
  launcher=$([ "$arch" = i686 ] && echo /usr/lib/wine/wine || echo /usr/lib/wine/wine64)
  started=$(date +%s)
  echo "wine-check $arch: $($launcher --version), $lanes lane(s), prefixes $work/prefix-$arch-*"
  for ((lane = 1; lane <= lanes; lane++)); do
    check_lane "$arch" "$lane" "$lanes" >"$work/$arch-$lane.log" 2>&1 &
    pids+=($!)
  done
  for ((lane = 1; lane <= lanes; lane++)); do
    wait "${pids[$((lane - 1))]}" || bad=1
    cat "$work/$arch-$lane.log"
  done
  echo "wine-check $arch: $((${#scenarios[@]} * repeat)) runs of ${#scenarios[@]} scenarios," \
    "$([ "$bad" = 0 ] && echo "all agree" || echo "NOT all agree"); $(($(date +%s) - started)) s"
  [ ! -f "$work/$arch-x-errors" ] || echo "wine-check $arch: $(wc -l <"$work/$arch-x-errors") run(s) repeated after" \
    "Wine's X11 driver ended the host program: $(paste -sd, "$work/$arch-x-errors")"
  replay_module_logs "$arch" || true
  return "$bad"
}

# --- both architectures, side by side -----------------------------------------------------------
pids=()
ran_arches=()
for arch in "${arches[@]}"; do
  launcher=$([ "$arch" = i686 ] && echo /usr/lib/wine/wine || echo /usr/lib/wine/wine64)
  wine_runs "$launcher" "wine-check $arch" || continue
  check_arch "$arch" >"$work/$arch.log" 2>&1 &
  pids+=($!)
  ran_arches+=("$arch")
done
failed=0
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || failed=1
  cat "$work/${ran_arches[$i]}.log"
done

((${#ran_arches[@]})) || { echo "FAILED: no Windows build could run under Wine on this machine"; exit 1; }
[ "$failed" = 0 ] || { echo "wine-check: FAILED"; exit 1; }
echo "wine-check: ${ran_arches[*]}: ${#scenarios[@]} scenarios x $repeat round(s), all agree"
