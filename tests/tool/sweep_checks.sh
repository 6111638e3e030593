#!/usr/bin/env bash
# rovane-sim sweep and run --fail-call, end to end: the tray sweep runs until N passes the job's
# last tray call with no run failing; a bounded spooler sweep stops at its cap and says so; a
# failing call is replayed by run --fail-call, which counts the fault and writes it into the
# transcript, once or (lasting) from the Nth call on; usage errors exit 1; and the failures
# earlier sweeps found stay fixed.
set -euo pipefail
tool="$1"
fail() { echo "FAILED: $*"; exit 1; }
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

set +e
"$tool" sweep --kind tray > "$dir/tray.txt" 2>&1; rc=$?
set -e
[ "$rc" = 0 ] || fail "sweep --kind tray: exit $rc: $(cat "$dir/tray.txt")"
grep -Eq '^sweep tray \(one-shot\): ([0-9]+) runs, nothing fired at N=\1 \(the run made [0-9]+ tray calls\); [0-9]+ faults fired; [0-9]+ passed, [0-9]+ aborted but consistent, 0 failed; wall [0-9.]+ s$' \
  "$dir/tray.txt" || fail "no tray summary: $(cat "$dir/tray.txt")"

"$tool" sweep --kind spooler --max 12 --json > "$dir/spooler.json"
for want in '"kind": "spooler"' '"runs": 12' '"quiet_n": null' '"cap_hit": true' '"faults_fired": 12' '"failed": 0'; do
  grep -q "$want" "$dir/spooler.json" || fail "sweep --kind spooler --max 12: no $want: $(cat "$dir/spooler.json")"
done

# One failing call replayed: counted in the summary, named in the transcript.
job=(--drives 2 --discs 4 --record-time 120 --print pellan-iv --laminate --record-print 0 --seed 1)
"$tool" run "${job[@]}" --fail-call serial-write:5 --transcript "$dir/t.txt" > "$dir/run.txt" 2>&1
grep -Eq '^  injected faults    1  \(--fail-call serial-write:5; [0-9]+ serial-write calls made\)$' "$dir/run.txt" \
  || fail "no injected fault in the summary: $(cat "$dir/run.txt")"
[ "$(grep -c ' fault: ' "$dir/t.txt")" = 1 ] || fail "not one fault line: $(grep ' fault: ' "$dir/t.txt")"
grep -q 'fault: WriteFile (serial) on COM1 fails with error 31 (injected, call 5)$' "$dir/t.txt" \
  || fail "no fault line for call 5: $(grep ' fault: ' "$dir/t.txt")"
# Lasting: every log write from the 1500th on fails; the job does not notice.
"$tool" run "${job[@]}" --fail-call file-write:1500+ --json --transcript "$dir/t2.txt" > "$dir/run2.json" 2>/dev/null
grep -q '"outcome": "completed"' "$dir/run2.json" || fail "file-write:1500+: $(cat "$dir/run2.json")"
fired="$(grep -A3 '"fail_call"' "$dir/run2.json" | sed -n 's/.*"fired": \([0-9]*\).*/\1/p')"
[ -n "$fired" ] && [ "$fired" -gt 100 ] || fail "file-write:1500+ fired '$fired' faults"
[ "$(grep -c ' fault: ' "$dir/t2.txt")" = 1 ] || fail "a lasting fault is noted once"
grep -q 'fails with error 112 (injected, call 1500 and every call after it)$' "$dir/t2.txt" || fail "no lasting fault line"

for bad in "--fail-call tray" "--fail-call tray:0" "--fail-call disk:3" "--fail-call spooler:x"; do
  set +e
  # shellcheck disable=SC2086
  "$tool" run $bad > /dev/null 2>&1; rc=$?
  set -e
  [ "$rc" = 1 ] || fail "run $bad: exit $rc"
done
set +e
"$tool" sweep --kind disk > /dev/null 2>&1; rc=$?
set -e
[ "$rc" = 1 ] || fail "sweep --kind disk: exit $rc"

# Failures sweeps found, replayed (seed 1 and the call that failed): the printer list could not
# be read at start-up (spooler:4; the job is aborted with every disc accounted for); a print the
# spooler refused (spooler:165; the operator goes on past the module's print time-out); a
# failed byte of "_SV" made the robot report an error before the job (serial-write:2; the
# operator clears it, then Retry); a failed byte of "_SI" left an invalid-command error that
# shows no message (serial-write:591; the operator sees the robot stand still and clears it);
# the robot's replies stopped for good during start-up (serial-read:500+; the operator gives up
# on the printer, then on the robot); the spooler stopped for good (spooler:1+; the operator
# gives up on the laminator).
for replay in spooler:4 spooler:165 serial-write:2 serial-write:591 serial-read:500+ spooler:1+; do
  set +e
  "$tool" run "${job[@]}" --fail-call "$replay" > "$dir/replay.out" 2>&1; rc=$?
  set -e
  [ "$rc" = 0 ] || [ "$rc" = 2 ] || fail "run --fail-call $replay: exit $rc: $(tail -5 "$dir/replay.out")"
done
echo "sweep checks passed"
