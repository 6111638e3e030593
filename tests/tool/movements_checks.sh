#!/usr/bin/env bash
# rovane-sim movements, end to end: the multiple-disc move test on two drives counts down and puts
# every disc into an output bin; with the printer and the laminator each disc passes both; Stop
# Test during the first loads resets the robot; a count the dialog cannot show is not run.
set -euo pipefail
tool="$1"
fail() { echo "FAILED: $*"; exit 1; }
# The lines printed under the movements call (the test itself).
test_lines() { awk '/^[0-9]+ movements -> /{on=1; next} /^[0-9]+ /{on=0} on' <<<"$1"; }
count() { grep -c -- "$1" <<<"$2" || true; }
# The counts the test dialog showed after its first, on one line.
counts() { grep -E '^ +[0-9]+ remaining [0-9]+$' <<<"$1" | awk '{printf "%s ", $3}' || true; }

out="$("$tool" movements --discs 4 --drives 2)" || fail "two drives: exit $?: $out"
t="$(test_lines "$out")"
[ "$(counts "$t")" = "3 2 1 0 " ] \
  || fail "two drives: counts shown: $out"
grep -qx 'test completed: 4 discs asked, 4 moved' <<<"$out" && grep -q '^  in output bins    4 ' <<<"$out" \
  || fail "two drives: summary: $out"
grep -qE '^place (A|B|picker) ' <<<"$out" && fail "two drives: a disc left in the machine: $out"
grep -q 'text="Before you click OK, you must remove any discs left in the Recorders"' <<<"$t" \
  || fail "two drives: the warning: $out"
[ "$(count ' _RESET$' "$t")" = 1 ] || fail "two drives: one reset at the test's end: $out"
[ "$out" = "$("$tool" movements --discs 4 --drives 2)" ] || fail "same seed, other output"

out="$("$tool" movements --discs 4 --drives 2 --printer "Pellan IV" --laminator)" || fail "printer: exit $?: $out"
t="$(test_lines "$out")"
grep -qx 'test completed: 4 discs asked, 4 moved' <<<"$out" || fail "printer: summary: $out"
# Two carries to the printer tray and one to the laminator per disc.
[ "$(count ' _MOVE:S$' "$t")" = 8 ] && [ "$(count ' _MOVE:E$' "$t")" = 4 ] \
  || fail "printer: not every disc passed the printer and the laminator: $out"
grep -q 'Recorders, Printer, or Laminator"' <<<"$t" || fail "printer: the warning: $out"

out="$("$tool" movements --discs 4 --drives 2 --stop-after 10)" || fail "stop: exit $?: $out"
t="$(test_lines "$out")"
grep -q '^test stopped by the operator at ' <<<"$out" || fail "stop: summary: $out"
[ -z "$(counts "$t")" ] || fail "stop: a disc was counted: $out"
# Stop Test while the first disc is being loaded, then the robot reset.
[ "$(count ' _MOVE:B$' "$t")" = 0 ] && grep -A3 'dialog 120 closed' <<<"$t" | grep -q ' _RESET$' \
  || fail "stop: no reset after Stop Test during the loads: $out"

set +e
"$tool" movements --discs 3 --drives 2 > "/dev/null" 2> /dev/null
rc=$?
set -e
[ "$rc" = 1 ] || fail "a count the dialog cannot show: exit $rc, not the usage error"
"$tool" movements --drives 2 > /dev/null 2>&1 && fail "no --discs accepted"
echo "movements checks passed"
