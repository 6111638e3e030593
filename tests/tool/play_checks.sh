#!/usr/bin/env bash
# rovane-sim play, end to end: a blank disc loaded into the recorder at A; an empty first bin
# skipped without a message; all bins empty and the operator aborting the job; the same seed
# printing the same lines.
set -euo pipefail
tool="$1"
fail() { echo "FAILED: $*"; exit 1; }
commands=(A _MOVE: PICKUP _MOVE:A DROPOFF DONE:0)
tmp_err="$(mktemp)"
trap 'rm -f "$tmp_err"' EXIT

out="$("$tool" play "${commands[@]}")" || fail "load: exit $?"
[ "$(grep -v '^place\|^aborted' <<<"$out" | awk '{print $2}' | tr '\n' ' ')" = "_MOVE:4 _PICK _MOVE:A _PICK " ] \
  || fail "load: robot commands: $out"
grep -qx 'place A 1' <<<"$out" || fail "load: recorder A"
grep -qx 'place 4 24' <<<"$out" || fail "load: bin 4"
grep -q 'place lost' <<<"$out" && fail "load: a disc was lost"
grep -qx 'aborted=0' <<<"$out" || fail "load: aborted"
[ "$("$tool" play --seed 5 "${commands[@]}")" = "$("$tool" play --seed 5 "${commands[@]}")" ] || fail "same seed, other output"

out="$("$tool" play --empty-bin 4 "${commands[@]}")" || fail "empty bin: exit $?"
[ "$(grep -c '_MOVE:2' <<<"$out")" = 1 ] || fail "empty bin: no move to bin 2: $out"
grep -qx 'place 2 24' <<<"$out" || fail "empty bin: bin 2"
grep -qx 'place A 1' <<<"$out" || fail "empty bin: recorder A"

set +e
out="$("$tool" play --empty-bin 4 --empty-bin 2 --empty-bin 5 --empty-bin 1 \
       --answer 'input bin is empty=ABORTJOB' "${commands[@]}")"
rc=$?
set -e
[ "$rc" = 2 ] || fail "all bins empty: exit $rc"
grep -q ' _RESET$' <<<"$out" || fail "all bins empty: no reset: $out"
grep -qx 'aborted=1' <<<"$out" || fail "all bins empty: aborted"

# An abort with a disc in the picker: the operator cancels the second pick-up; the disc is dropped
# at reject position G, then the robot is reset.
set +e
out="$("$tool" play --answer 'already holds=CANCEL' _MOVE: PICKUP PICKUP)"
rc=$?
set -e
[ "$rc" = 2 ] || fail "abort with a disc: exit $rc"
[ "$(grep -v '^place\|^aborted' <<<"$out" | awk '{print $2}' | tail -3 | tr '\n' ' ')" = "_MOVE:G _PICK _RESET " ] \
  || fail "abort with a disc: robot commands: $out"
grep -qx 'place G 1' <<<"$out" || fail "abort with a disc: not at G: $out"
grep -q 'place lost\|place picker' <<<"$out" && fail "abort with a disc: disc not rejected: $out"

# A pick-up the arm is not placed for rewinds its read cursor past the start of the queue: the
# 8-bit cursor wraps, the queue counts as used up and the thread ends, having sent nothing.
out="$(timeout 60 "$tool" play PICKUP)" || fail "lone pick-up: exit $?"
[ "$(grep -vc '^place\|^aborted' <<<"$out")" = 0 ] || fail "lone pick-up: robot commands: $out"
# Printing and laminating steps are never written to the robot as they stand: a print with no
# disc in the printer is waited for until the 60-second question, whose Retry sends the tray out;
# waiting for a lamination with no laminator asks about it, and Cancel aborts the job ("_RESET").
set +e
out="$(timeout 60 "$tool" play --answer 'Wait for printing timed out=RETRY' \
  --answer 'Unable to communicate with the laminator=CANCEL' PRINT:1 WAIT: LAM:0 WAITL:)"
status=$?
set -e
[ "$status" = 2 ] && grep -qx 'aborted=1' <<<"$out" || fail "printer steps: exit $status, not aborted: $out"
[ "$(grep -v '^place\|^aborted' <<<"$out" | awk '{print $2}' | tr '\n' ' ')" = "_PTO _RESET " ] \
  || fail "printer steps: $out"

# A drop into a closed tray loses the disc: the run's invariants break, naming the seed.
set +e
"$tool" play _MOVE:4 _PICK _MOVE:A _PICK > /dev/null 2> "$tmp_err"
rc=$?
set -e
[ "$rc" = 4 ] || fail "lost disc: exit $rc"
grep -q 'lost at A: tray closed' "$tmp_err" && grep -q 'seed 1 replays this run' "$tmp_err" || fail "lost disc: $(cat "$tmp_err")"

"$tool" play --bogus A > /dev/null 2>&1 && fail "unknown flag accepted"
"$tool" play --answer nonsense A > /dev/null 2>&1 && fail "bad --answer accepted"
echo "play checks passed"
