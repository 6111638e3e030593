#!/usr/bin/env bash
# The scenario corpus, tests/scenarios/NAME.txt, each run by rovane-sim host on its machine: each
# script's "# machine:" line gives the host flags of the machine it runs on (the same flags go to
# rovane-sim serve when the script runs against the real DLL under Wine). Every script must run to
# the end with its invariants holding (exit 0), and what a host and an operator see of the run
# must equal the checked-in NAME.expected, whatever the world's seed:
#   - each call with its result (no times, no poll counts) and what it returned in its buffers,
#   - the message boxes shown (caption, style, buttons, text) and their answers, and the dialogs
#     shown and closed, under the call during which they came,
#   - the robot's commands other than the status query, in the order they arrived.
# Last, the corpus as a whole must call every export the host language reaches and show every
# dialog of the module (the unit search meets its dialog even when it ends before showing it).
#
#   scenario_checks.sh [--update] [ROVANE_SIM] [NAME...]
#
# ROVANE_SIM defaults to $ROVANE_SIM, then build/sim/bin/rovane-sim. --update writes each
# script's projection to its NAME.expected instead of comparing (read each changed file before
# committing it: an expected file says the module is right). NAME... limits the run to those
# scripts (the corpus-wide checks are then skipped).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
dir="$root/tests/scenarios"
update=0
if [ "${1:-}" = --update ]; then update=1; shift; fi
tool="${ROVANE_SIM:-$root/build/sim/bin/rovane-sim}"
if [ $# -gt 0 ] && [ -x "$1" ] && [ ! -d "$1" ]; then tool="$1"; shift; fi
[ -x "$tool" ] || { echo "FAILED: no rovane-sim at '$tool' (give it as the first argument or in ROVANE_SIM)"; exit 1; }
names=("$@")
seeds=(1 2 3)

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail=0
failed() { echo "FAILED: $*"; fail=1; }

# What a host and an operator see of a run, without its times and poll counts.
project() {
  sed -nE \
    -e 's/^[0-9]+ (wait [0-9]+ -> [0-9]+) after [0-9]+ polls?$/\1/p;t' \
    -e 's/^[0-9]+ ([a-z].*)$/\1/p;t' \
    -e 's/^    ((recorder|product|text|state=).*)$/  \1/p;t' \
    -e 's/^    [0-9]+ ((msgbox|dialog) .*)$/  \1/p;t' \
    "$1"
  echo "robot:"
  sed -nE 's/^    [0-9]+ (_.*)$/  \1/p' "$1"
}

# The machine flags of a script: its one "# machine:" line, read as the shell reads words (double
# quotes group blanks), before its first call.
machine_flags() {
  local script="$1" line
  [ "$(grep -c '^# machine:' "$script")" = 1 ] || { echo "no single '# machine:' line" >&2; return 1; }
  line="$(sed -n 's/^# machine:[[:blank:]]*//p' "$script")"
  awk '/^[[:blank:]]*(#|$)/ { next } { exit 1 }' < <(sed '/^# machine:/q' "$script") \
    || { echo "the '# machine:' line comes after a call" >&2; return 1; }
  [ -z "$line" ] || xargs printf '%s\n' <<<"$line"
}

if [ ${#names[@]} = 0 ]; then
  for script in "$dir"/*.txt; do names+=("$(basename "$script" .txt)"); done
fi
ran=0
for name in "${names[@]}"; do
  script="$dir/$name.txt"
  [ -f "$script" ] || { failed "$name: no script $script"; continue; }
  head -1 "$script" | grep -q '^# ' || failed "$name: the script does not begin with comment lines saying what it shows"
  flags=()
  if ! mapfile -t flags < <(machine_flags "$script" 2>"$work/err"); then failed "$name: $(cat "$work/err")"; continue; fi
  [ -s "$work/err" ] && { failed "$name: machine line: $(cat "$work/err")"; continue; }
  first=""
  for seed in "${seeds[@]}"; do
    out="$work/$name.$seed.out"
    rc=0
    "$tool" host --seed "$seed" "${flags[@]}" --wire "$script" >"$out" 2>"$work/$name.$seed.err" || rc=$?
    if [ "$rc" != 0 ]; then
      failed "$name (seed $seed): exit $rc: $(cat "$work/$name.$seed.err")"
      continue 2
    fi
    project "$out" >"$work/$name.$seed.proj"
    if [ -z "$first" ]; then
      first="$work/$name.$seed.proj"
    elif ! cmp -s "$first" "$work/$name.$seed.proj"; then
      failed "$name: seed $seed sees otherwise than seed ${seeds[0]}:"
      diff -u --label "seed ${seeds[0]}" --label "seed $seed" "$first" "$work/$name.$seed.proj" || true
      continue 2
    fi
  done
  expected="$dir/$name.expected"
  if [ "$update" = 1 ]; then
    cmp -s "$first" "$expected" 2>/dev/null || { cp "$first" "$expected"; echo "updated $name.expected"; }
  elif [ ! -f "$expected" ]; then
    failed "$name: no $name.expected (run with --update, then read it)"
  elif ! cmp -s "$expected" "$first"; then
    failed "$name: the run differs from $name.expected:"
    diff -u --label "$name.expected" --label "run" "$expected" "$first" || true
  fi
  cat "$first" >>"$work/all.proj"
  ran=$((ran + 1))
done

if [ $# = 0 ]; then
  # Every expected file belongs to a script.
  for expected in "$dir"/*.expected; do
    [ -f "${expected%.expected}.txt" ] || failed "$(basename "$expected"): no script of that name"
  done
  [ "$ran" -ge 40 ] || failed "only $ran scenarios ran (at least 40 expected)"
  # Every export the host language reaches is called, and every dialog of the module is shown.
  for call in init end status options movements services job move wait validprint moveprint checkprinting checkaccumulator; do
    grep -q "^$call " "$work/all.proj" 2>/dev/null || failed "no scenario calls '$call'"
  done
  for id in 101 117 118 119 120 121 122 124 125 166; do
    grep -q "^  dialog $id " "$work/all.proj" 2>/dev/null || failed "no scenario meets dialog $id"
  done
fi

[ "$fail" = 0 ] || exit 1
echo "scenario checks passed: $ran scenarios, seeds ${seeds[*]}"
