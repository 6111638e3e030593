#!/usr/bin/env bash
# rovane-sim run, end to end: a 20-disc job on four drives puts every disc into the output bins
# and replays exactly from its seed, while another seed interleaves differently to the same end;
# failed recordings are rejected to G; a printing job prints every disc once; a laminating job
# laminates every disc once from three input bins, also past a refill while discs wait on their
# stack for their print; a mispicking robot on a noisy line still finishes the job
# with the operator's help; usage errors exit 1.
set -euo pipefail
tool="$1"
fail() { echo "FAILED: $*"; exit 1; }
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
# One value of the pretty-printed JSON object: field NAME JSON.
field() { sed -n "s/^ *\"$1\": \"\\{0,1\\}\\([^\",]*\\)\"\\{0,1\\},\\{0,1\\}$/\\1/p" <<<"$2" | head -1; }
# Runs the tool and keeps its exit code: run NAME ARGS...
run() { local name="$1"; shift; set +e; "$tool" run "$@" > "$dir/$name.json" 2> "$dir/$name.err"; echo $? > "$dir/$name.rc"; set -e; }

run a --discs 20 --drives 4 --seed 1 --json --transcript "$dir/a.transcript"
run b --discs 20 --drives 4 --seed 1 --json
run c --discs 20 --drives 4 --seed 2 --json
a="$(cat "$dir/a.json")"
[ "$(cat "$dir/a.rc")" = 0 ] || fail "seed 1: exit $(cat "$dir/a.rc"): $(cat "$dir/a.err")"
[ "$(field in_output_bins "$a")" = 20 ] || fail "seed 1: not all 20 in output bins: $a"
[ "$(field lost "$a")" = 0 ] && [ "$(field left_in_machine "$a")" = 0 ] || fail "seed 1: discs missing: $a"
grep -q 'invariants hold.*seed 1 replays' "$dir/a.err" || fail "seed 1: invariants: $(cat "$dir/a.err")"
diff <(grep -v '"wall_' "$dir/a.json") <(grep -v '"wall_' "$dir/b.json") > /dev/null || fail "same seed, other JSON"
grep -q 'world robot: pick from 4: disc' "$dir/a.transcript" || fail "no transcript written"
c="$(cat "$dir/c.json")"
[ "$(cat "$dir/c.rc")" = 0 ] && [ "$(field in_output_bins "$c")" = 20 ] && [ "$(field lost "$c")" = 0 ] \
  || fail "seed 2: another outcome: $c"
[ "$(field transcript_hash "$a")" != "$(field transcript_hash "$c")" ] || fail "seed 2: the same interleaving as seed 1"

run rejects --fail-rate 0.2 --json
r="$(cat "$dir/rejects.json")"
[ "$(cat "$dir/rejects.rc")" = 0 ] || fail "fail rate: exit $(cat "$dir/rejects.rc"): $(cat "$dir/rejects.err")"
g="$(field G "$r")"; out="$(field in_output_bins "$r")"
[ "$g" -gt 0 ] && [ "$(field H "$r")" = 0 ] && [ $((g + out)) = 20 ] && [ "$(field lost "$r")" = 0 ] \
  || fail "fail rate: rejects not on G, or discs missing: $r"

# Seed 3 mispicks at an input bin: the operator presses Pick, on top of the answers of start-up.
run faults --mispick 0.05 --noise 0.05 --seed 3 --json
run calm --seed 3 --json
f="$(cat "$dir/faults.json")"
[ "$(cat "$dir/faults.rc")" = 0 ] && [ "$(field in_output_bins "$f")" = 20 ] && [ "$(field lost "$f")" = 0 ] \
  || fail "mispicks and noise: $f $(cat "$dir/faults.err")"
[ "$(field operator_answers "$f")" -gt "$(field operator_answers "$(cat "$dir/calm.json")")" ] \
  || fail "mispicks and noise: the operator's answers are not counted: $f"

# Record and print: every disc through the printer once, with the recorders freed at the pick
# and, with "Record-Print" 0, only once the printed disc is in its output bin; the printing dialog
# shown and closed around each print. With the recorders freed early, discs recorded while the
# arm is still at the first recorder of a batch wait on their return bin and reach the printer
# through "XFER:".
for rp in 1 0; do
  run "print$rp" --discs 20 --drives 4 --print pellan-iv --record-print "$rp" --json --transcript "$dir/print$rp.tr"
  p="$(cat "$dir/print$rp.json")"
  [ "$(cat "$dir/print$rp.rc")" = 0 ] && [ "$(field in_output_bins "$p")" = 20 ] && [ "$(field prints "$p")" = 20 ] \
    && [ "$(field lost "$p")" = 0 ] && [ "$(field blank_prints "$p")" = 0 ] \
    || fail "print, Record-Print $rp: $p $(cat "$dir/print$rp.err")"
  [ "$(grep -c 'dialog 124 shown' "$dir/print$rp.tr")" = 20 ] && [ "$(grep -c 'dialog 124 closed' "$dir/print$rp.tr")" = 20 ] \
    || fail "print, Record-Print $rp: the printing dialog is not shown and closed once per print"
done
[ "$(field prints_joined "$(cat "$dir/print1.json")")" -gt 0 ] && grep -q 'Next PRINT CMD = XFER:' "$dir/print1.tr" \
  || fail "print: no disc waited for its print on its return bin"
# A print that fails (the printer stops halfway with its error): the operator clears the error, and
# the disc goes on to its output stack unprinted. The run counts it as unprinted because its print
# failed; an unprinted disc with no failed print (or timed-out wait) behind it would break the
# invariants (exit 4, counted as unaccounted).
run printfail --discs 8 --drives 4 --seed 31 --print pellan-iv --record-print 0 --print-fail 1 --json
p="$(cat "$dir/printfail.json")"
[ "$(cat "$dir/printfail.rc")" = 0 ] && [ "$(field in_output_bins "$p")" = 8 ] && [ "$(field prints "$p")" = 7 ] \
  && [ "$(field failed_prints "$p")" = 1 ] && [ "$(field unprinted "$p")" = 1 ] && [ "$(field print_failed "$p")" = 1 ] \
  && [ "$(field unaccounted "$p")" = 0 ] && [ "$(field wait_timed_out "$p")" = 0 ] && [ "$(field job_aborted "$p")" = 0 ] \
  && grep -q '^    "[0-9]*": "print failed"' <<<"$p" || fail "print fail: $p $(cat "$dir/printfail.err")"
grep -q 'invariants hold: .*no disc printed twice, 1 on the output stacks unprinted, each accounted for (print failed 1)' \
  "$dir/printfail.err" || fail "print fail: invariants: $(cat "$dir/printfail.err")"
# The same job without the fault: every disc printed, none unprinted.
grep -q 'invariants hold: .*every disc on the output stacks printed,' "$dir/print0.err" && [ "$(field unprinted "$(cat "$dir/print0.json")")" = 0 ] \
  || fail "print: $(cat "$dir/print0.err")"

# A laminating job: three input bins, bin 1 never picked from, every disc printed and laminated
# once; the laminator's tray goes out at start-up and again at the end.
run lam --discs 10 --drives 4 --print pellan-iv --laminate --json --transcript "$dir/lam.tr"
l="$(cat "$dir/lam.json")"
[ "$(cat "$dir/lam.rc")" = 0 ] && [ "$(field in_output_bins "$l")" = 10 ] && [ "$(field prints "$l")" = 10 ] \
  && [ "$(field laminations "$l")" = 10 ] && [ "$(field lost "$l")" = 0 ] && [ "$(field left_in_machine "$l")" = 0 ] \
  && [ "$(field input_bin_1_picked "$l")" = 0 ] && [ "$(field laminations_left "$l")" = 490 ] \
  || fail "laminate: $l $(cat "$dir/lam.err")"
[ "$(grep -c 'Moving Laminator Tray OUT' "$dir/lam.tr")" -ge 2 ] && ! grep -q 'world robot: pick from 1:' "$dir/lam.tr" \
  || fail "laminate: no tray out at start-up and end, or a pick from bin 1"
# Each disc's way from the printer, as the robot and the laminator saw it: tray out, to E, drop,
# laminate, tray out, to E, pick up, to the output bin, drop.
lam_steps="$(awk '/world robot: _MOVE:/ {sub(/.*_MOVE:/, ""); print "M" substr($0, 1, 1); next}
  /world robot: _PICK: pick up at S/ {print "PS"; next} /world robot: _PICK/ {print "P"; next}
  /laminator: command 1B 04 81/ {print "LO"; next} /laminator: command 1B 04 82/ {print "LAM"}' "$dir/lam.tr" | tr '\n' ' ')"
[ "$(grep -o 'PS LO ME P LAM LO ME P M3 P' <<<"$lam_steps" | wc -l)" = 10 ] \
  || fail "laminate: not every disc went printer - laminator - output bin in the laminator block's order: $lam_steps"
# A jammed lamination and a disc that falls off the tray: the operator clears the jam and puts the
# disc back; every disc is still laminated once.
for fault in "--lam-jam 1" "--lam-falls 1"; do
  # shellcheck disable=SC2086
  run lamfault --discs 4 --drives 2 --laminate $fault --json
  l="$(cat "$dir/lamfault.json")"
  [ "$(cat "$dir/lamfault.rc")" = 0 ] && [ "$(field laminations "$l")" = 4 ] && [ "$(field in_output_bins "$l")" = 4 ] \
    || fail "laminate $fault: $l $(cat "$dir/lamfault.err")"
done
# Without --print the discs are printed with the pellan-iv file on their way to the laminator.
run lamonly --discs 4 --drives 2 --laminate
grep -q 'laminations        4 ' "$dir/lamonly.json" && [ "$(cat "$dir/lamonly.rc")" = 0 ] \
  || fail "laminate without --print: $(cat "$dir/lamonly.json") $(cat "$dir/lamonly.err")"

# A printing job that uses up a round of input bins: bin 2 starts empty, so bin 5, the last of the
# laminating job's three, runs out at disc 50 while three recorded discs wait on its output stack
# 2 for "XFER:" to carry them to the printer. The operator refilling bin 5 takes the printed
# discs off the stacks and puts those three back; taking them too left the print's pick with
# nothing on stack 2 (robot error "A" and Pick pressed for good, until the budget ran out).
run roundprint --discs 55 --laminate --empty-bin 2 --seed 3 --budget 4 --json --transcript "$dir/roundprint.tr"
p="$(cat "$dir/roundprint.json")"
[ "$(cat "$dir/roundprint.rc")" = 0 ] && [ "$(field in_output_bins "$p")" = 55 ] && [ "$(field prints "$p")" = 55 ] \
  && [ "$(field laminations "$p")" = 55 ] && [ "$(field unprinted "$p")" = 0 ] && [ "$(field left_in_machine "$p")" = 0 ] \
  || fail "a printing job past a round of bins: $p $(tail -5 "$dir/roundprint.err")"
grep -Eq 'world operator: takes [0-9]+ discs off 2, leaves [1-9][0-9]* on it' "$dir/roundprint.tr" \
  || fail "a printing job past a round of bins: no recorded disc left waiting on its stack at the refill"

for bad in "--drives 3" "--fail-rate 2" "--discs 0" "--answer nonsense" "--bogus" "--print nothing" "--print-time 0"; do
  # shellcheck disable=SC2086
  run bad $bad
  [ "$(cat "$dir/bad.rc")" = 1 ] || fail "'$bad': exit $(cat "$dir/bad.rc"), not 1"
done
echo "run checks passed"
