#!/usr/bin/env bash
# rovane-log replay, end to end: the logs of jobs the world ran (a plain one with a fail rate, a
# printing one, one with a robot error, one with a laminator) are run again by rovane-sim host and
# reproduced whole (exit 0, 100 %); a log whose robot command was changed diverges there (exit 3)
# and says where, in text and in JSON; a log without a job, a missing file and a wrong rovane-sim
# are refused (exit 2); usage errors exit 1; rovane-sim host --module-log copies the module's log.
set -euo pipefail
sim="$1"
logtool="$2"
fail() { echo "FAILED: $*"; exit 1; }
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

# replayed NAME RUN-FLAGS...: the job's log replayed whole (exit 0).
replayed() {
  local name="$1"
  shift
  # A job the operator aborted exits 2; its log replays as any other.
  local rc=0
  "$sim" run "$@" --module-log "$dir/$name.dbg" > "$dir/$name.run" 2>&1 || rc=$?
  [ "$rc" = 0 ] || [ "$rc" = 2 ] || fail "$name: run exit $rc $(tail -3 "$dir/$name.run")"
  "$logtool" replay "$dir/$name.dbg" > "$dir/$name.out" 2> "$dir/$name.err" \
    || fail "$name: replay exit $?: $(cat "$dir/$name.out" "$dir/$name.err")"
  grep -q "(100.0 %); robot commands \([0-9]*\) of \1, all in the same order" "$dir/$name.out" \
    || fail "$name: not reproduced whole: $(cat "$dir/$name.out")"
}

replayed plain --discs 8 --seed 3 --fail-rate 0.3
grep -q -- "--drives 4 --drive-code A --model R --firmware 1.13 --port COM1 -> exit 0" "$dir/plain.out" \
  || fail "plain: machine flags: $(cat "$dir/plain.out")"
replayed print --discs 5 --seed 3 --print pellan-iv
grep -q -- "--printer Pellan IV --setting Printer=Pellan IV" "$dir/print.out" || fail "print: $(cat "$dir/print.out")"
# Lines the module's log writer lost (it drops a line that meets another thread's): a print's
# own line and a job's begin are known again by what came after them.
line="$(grep -n "## PostMoveAndPrint 2000" "$dir/print.dbg" | sed -n 2p | cut -d: -f1)"
sed -e "${line},$((line + 1))d" -e "/JobBeginsOrEnds 1   dwHowMany/d" "$dir/print.dbg" > "$dir/print-lost.dbg"
"$logtool" replay "$dir/print-lost.dbg" > "$dir/print-lost.out" 2>&1 || true
grep -q "2 moves known by their queueing alone" "$dir/print-lost.out" \
  && grep -q "left out   the job's begin, its line lost: begun again before the first move, for 5 disc(s)" "$dir/print-lost.out" \
  && grep -q "robot commands \([0-9]*\) of \1, all in the same order" "$dir/print-lost.out" || fail "print lost: $(cat "$dir/print-lost.out")"
replayed error --discs 6 --seed 3 --robot-error C@400
grep -q "fault      --robot-error-on C@move:[0-9]* (line [0-9]*)" "$dir/error.out" || fail "error: no fault: $(cat "$dir/error.out")"
replayed twodrives --discs 4 --seed 9 --drives 2 --record-time 60
grep -q -- "--drives 2 --drive-code B" "$dir/twodrives.out" || fail "two drives: $(cat "$dir/twodrives.out")"
replayed laminate --discs 3 --seed 4 --laminate
grep -q -- "--laminator" "$dir/laminate.out" || fail "laminate: $(cat "$dir/laminate.out")"

# Line noise: each damaged status reply the log shows (a bad checksum, a reply that never came
# whole) is put back at the same point after the robot's last motion, and the job replays whole.
replayed noisy --discs 5 --record-time 106 --fail-rate 0.124 --seed 500080 --noise 0.024 --tray-fail 1
grep -q "fault      --damage-reply checksum@pick:[0-9]*+[0-9]* (line" "$dir/noisy.out" \
  && grep -q "fault      --damage-reply dropped@drop:[0-9]*+[0-9]* (line" "$dir/noisy.out" \
  || fail "noisy: no damaged replies: $(cat "$dir/noisy.out")"
# A move whose every line the log lost is known by the send thread's steps (without it the
# replay's host never posts it and the job stops); the robot's error A at a recorder's pick.
replayed lost --discs 8 --record-time 212 --seed 500084 --drives 2 --noise 0.005 --tray-fail 2 \
  --robot-error A@594.5 --robot-error C@105
grep -q "1 move known by their queueing alone" "$dir/lost.out" && grep -q "robot-error-on A@pick:11" "$dir/lost.out" \
  || fail "lost: $(cat "$dir/lost.out")"
# Error A at an input bin with discs left is an error, not an empty bin: bin 4 started empty,
# bin 2 did not.
replayed abin --discs 10 --record-time 152 --fail-rate 0.211 --seed 500082 --drives 2 --mispick 0.069 \
  --empty-bin 4 --tray-fail 2 --robot-error A@107.7 --think 0.2
grep -q -- "--empty-bin 4 --robot-error-on A@pick:4 -> exit 0" "$dir/abin.out" || fail "abin: $(cat "$dir/abin.out")"

# The operator's Abort in the robot's message is clicked again; an end called while moves are
# under way is not held back until they end.
replayed abort --discs 9 --record-time 73 --fail-rate 0.236 --seed 500378 --noise 0.021 --tray-fail 2 \
  --robot-error F@371 --robot-error C@322.3 --answer error=ABORTJOB
[ "$(grep -c "operator   Abort in the robot's message (line [0-9]*, logged)" "$dir/abort.out")" = 1 ] \
  || fail "abort: $(cat "$dir/abort.out")"
# An operator who takes 20 s over each answer: the replay's operator does too.
replayed slowop --discs 6 --seed 3 --robot-error C@400 --answer error=ABORTJOB --think 20
grep -q "operator   answers after 20.[0-9] s (median of 1): --think" "$dir/slowop.out" || fail "slow operator: $(cat "$dir/slowop.out")"
replayed endmid --discs 8 --record-time 224 --seed 500131 --noise 0.03 --mispick 0.091 --pause-at 207.2 --end-at 23.9

# What-if: the operator who aborted at the movement error presses Pause and Pick instead. The
# replay follows the log to the abort, then the world's operator and robot go on: the job is
# not aborted, and the host's own abort after that point is left out.
replayed whatif --discs 6 --seed 3 --robot-error C@400 --answer error=ABORTJOB
"$logtool" replay "$dir/whatif.dbg" --answer error=PAUSEPICK > "$dir/whatif2.out" 2>&1 || fail "what-if: exit $?: $(cat "$dir/whatif2.out")"
abort_line="$(grep -n "Abort button pressed" "$dir/whatif.dbg" | cut -d: -f1)"
grep -q "followed the log to line $abort_line; from there" "$dir/whatif2.out" \
  && grep -q "original   job aborted at line $abort_line (Abort button pressed)" "$dir/whatif2.out" \
  && grep -q "what-if    job not aborted (rovane-sim host exit 0)" "$dir/whatif2.out" \
  && grep -q "left out   line [0-9]*: the host's job abort" "$dir/whatif2.out" || fail "what-if: $(cat "$dir/whatif2.out")"
"$logtool" replay "$dir/whatif.dbg" --answer error=PAUSEPICK --json > "$dir/whatif.json" || fail "what-if --json: exit $?"
python3 - "$dir/whatif.json" "$abort_line" <<'PY' || fail "what-if --json: $(cat "$dir/whatif.json")"
import json, sys
w = json.load(open(sys.argv[1]))["what_if"]
assert w["answers"] == ["error=PAUSEPICK"] and w["followed_to_line"] == int(sys.argv[2]), w
assert w["original_outcome"].startswith("job aborted") and w["what_if_outcome"] == "job not aborted", w
PY

# The printer's error B in a print that then never ends is the printer's fault (the robot's B, which
# the printer outlasts, is not).
replayed printfail --discs 2 --print pellan-iv --record-print 0 --seed 5 --print-fail 1
grep -q -- "--print-fail 1 -> exit 0" "$dir/printfail.out" || fail "print fail: $(cat "$dir/printfail.out")"
replayed emptybin --discs 4 --seed 3 --empty-bin 4
grep -q -- "--port COM1 --empty-bin 4 -> exit 0" "$dir/emptybin.out" || fail "empty bin: $(cat "$dir/emptybin.out")"
# A printer the dialog does not preselect (and the laminator): the operator's choice logged is
# made again by a dialog line, and every robot command comes again in the same order.
"$sim" run --discs 3 --seed 3 --print varrow --laminate --module-log "$dir/varrow.dbg" > "$dir/varrow.run" 2>&1 \
  || fail "varrow: run exit $?"
"$logtool" replay "$dir/varrow.dbg" --keep "$dir/varrow.keep" > "$dir/varrow.out" 2>&1 || true
grep -q "robot commands \([0-9]*\) of \1, all in the same order" "$dir/varrow.out" || fail "varrow: $(cat "$dir/varrow.out")"
grep -qx 'dialog 122 select 1081 "Varrow on LPT1:"; check 1197; click 1' "$dir/varrow.keep/replay.host" \
  || fail "varrow: no dialog line: $(head -5 "$dir/varrow.keep/replay.host")"

# Scenarios' logs: what only the module's doing shows is put back, and every robot command comes
# again in the same order. SCENARIO, then lines the replay's report must hold.
scenario() {
  local name="$1" f="tests/scenarios/$1.txt" machine rc=0
  shift
  machine="$(sed -n 's/^# machine: //p' "$root/$f")"
  eval "\"\$sim\" host \"\$root/\$f\" $machine --speed 4 --module-log \"\$dir/\$name.dbg\"" > "$dir/$name.run" 2>&1 \
    || fail "$name: host exit $?: $(tail -3 "$dir/$name.run")"
  "$logtool" replay "$dir/$name.dbg" > "$dir/$name.out" 2>&1 || rc=$?
  grep -q "robot commands \([0-9]*\) of \1, all in the same order" "$dir/$name.out" || fail "$name: $(cat "$dir/$name.out")"
  for want in "$@"; do grep -q -- "$want" "$dir/$name.out" || fail "$name: no '$want': $(cat "$dir/$name.out")"; done
}
root="$(cd "$(dirname "$0")/../.." && pwd)"
# The machine's speed from its motions' times (the scenarios ran 4 times quicker).
scenario tray-fail "times the world's: --speed \(3\.[89]\|4\.[01]\)[0-9]*, inferred" -- "--tray-fail 2"
scenario bin-question "No to the question of the initial input bin (line [0-9]*, inferred: the job picked from input bin 2 again)"
scenario pause "fault      --pause-on move:2" "Abort in the robot's message (line [0-9]*, logged)"
scenario rejects-full-retry "Retry to the full reject position (line [0-9]*, inferred: the reject queued to G again)"
scenario rejects-full-cancel "Cancel to the full reject position (line [0-9]*, logged)"
scenario lam-fall-cancel -- "--lam-falls 1" "Cancel to the disc fallen off the laminator's tray (line [0-9]*, inferred: the job was aborted)"
scenario print-only-job "host       Quessa, "
scenario print-no-printer "(100.0 %)"
scenario print-tessik "\"Tessik 6\" by what the module did with it"
scenario job-disc-left-in-printer -- "--printer-disc-left"
scenario lam-only -- "--lam-disc-left"
scenario job-three-bins-question -- "--lam-silent" "No to picking from all four input bins (line [0-9]*, logged)"
scenario robot-error-f-pick "Pause and Pick to the disc not picked (line [0-9]*, inferred: the module went back to the bin for it)"

# A byte that is not UTF-8 in what the log tells (the robot's version reply damaged on the
# line, its firmware read from it): the JSON report still comes, the byte replaced.
sed "s/VERSION:R 1\.13/VERSION:R 1.\xfa3/" "$dir/plain.dbg" > "$dir/badbyte.dbg"
grep -q "VERSION:R 1.13" "$dir/badbyte.dbg" && fail "bad byte: the version line not changed"
"$logtool" replay "$dir/badbyte.dbg" --json > "$dir/badbyte.json" 2> "$dir/badbyte.err" || true
python3 -c 'import json,sys; j=json.load(open(sys.argv[1])); assert j["machine"]["firmware"] == "1.\ufffd3", j["machine"]' \
  "$dir/badbyte.json" || fail "bad byte: $(cat "$dir/badbyte.json" "$dir/badbyte.err")"

# A log that started again: the older part given first replays whole. The newer part alone begins
# in the middle of the machine's work: the replay's own start-up first loads the recorders the log
# shows unloading, and every robot command of the log comes again in the same order after it.
total="$(wc -l < "$dir/plain.dbg")"
head -n $((total / 2)) "$dir/plain.dbg" > "$dir/older.dbg2"
tail -n +$((total / 2 + 1)) "$dir/plain.dbg" > "$dir/newer.dbg"
"$logtool" replay "$dir/older.dbg2" "$dir/newer.dbg" > "$dir/two.out" 2>&1 || fail "two logs: exit $?: $(cat "$dir/two.out")"
grep -q "(100.0 %); robot commands \([0-9]*\) of \1, all in the same order" "$dir/two.out" || fail "two logs: $(cat "$dir/two.out")"
"$logtool" replay "$dir/newer.dbg" --keep "$dir/newer.keep" > "$dir/newer.out" 2>&1 || true
grep -q "left out   the log begins in the middle of the machine's work: the replay loads recorder unit(s) 3, 4, 1 first" \
  "$dir/newer.out" && grep -q "robot commands [0-9]* of [0-9]*, all in the same order" "$dir/newer.out" \
  && grep -qx "job 4 777000777" "$dir/newer.keep/replay.host" || fail "mid-job: $(cat "$dir/newer.out")"

# JSON: the same outcome as one object.
"$logtool" replay "$dir/plain.dbg" --json > "$dir/plain.json" || fail "plain --json: exit $?"
python3 - "$dir/plain.json" <<'PY' || fail "plain --json: $(cat "$dir/plain.json")"
import json, sys
j = json.load(open(sys.argv[1]))
assert j["share"] == 1 and j["reproduced"] == j["compared"] > 0, j
assert j["robot_same_order"] and j["divergence"] is None and j["sim_exit"] == 0
assert j["machine"]["model"] == "R" and j["machine"]["serials"][3] == "SN-DRIVE-4"
PY

# Times: a person who took 20 s over each choice in the printer dialog (a dialog's time the replay
# does not take from the log) puts the host's calls after it 18.5 s late: counted beyond the
# default tolerance of 10 s, not beyond 20 s.
"$sim" run --discs 3 --seed 3 --print varrow --laminate --think 20 --module-log "$dir/slowdlg.dbg" > /dev/null 2>&1 \
  || fail "slow dialog: run exit $?"
"$logtool" replay "$dir/slowdlg.dbg" --json > "$dir/tol.json" || true
"$logtool" replay "$dir/slowdlg.dbg" --json --tolerance 20 > "$dir/tol20.json" || true
python3 - "$dir/tol.json" "$dir/tol20.json" <<'PY' || fail "tolerance: $(cat "$dir/tol.json")"
import json, sys
a, b = (json.load(open(p)) for p in sys.argv[1:3])
assert a["time_tolerance_ms"] == 10000 and a["calls_off_time"] > 0 and a["first_off_time_line"] > 0, a
assert b["time_tolerance_ms"] == 20000 and b["calls_off_time"] == 0 and b["first_off_time_line"] is None, b
assert a["robot_same_order"] and b["robot_same_order"]
PY

# A robot command changed in the log: the replay diverges at that line.
line="$(grep -n '>>Sent CMD = _MOVE:A' "$dir/plain.dbg" | sed -n 2p | cut -d: -f1)"
sed "${line}s/_MOVE:A/_MOVE:B/" "$dir/plain.dbg" > "$dir/changed.dbg"
set +e
"$logtool" replay "$dir/changed.dbg" > "$dir/changed.out" 2>&1
rc=$?
set -e
[ "$rc" = 3 ] || fail "changed: exit $rc: $(cat "$dir/changed.out")"
grep -q "first divergence: robot command differs" "$dir/changed.out" || fail "changed: $(cat "$dir/changed.out")"
grep -q "> *$line  03/.. ..:..:..:...  >>Sent CMD = _MOVE:B\|> *$line  >>Sent CMD = _MOVE:B" "$dir/changed.out" \
  || fail "changed: the divergence is not at line $line: $(cat "$dir/changed.out")"
set +e
"$logtool" replay "$dir/changed.dbg" --json > "$dir/changed.json"
rc=$?
set -e
[ "$rc" = 3 ] || fail "changed --json: exit $rc"
python3 - "$dir/changed.json" "$line" <<'PY' || fail "changed --json: $(cat "$dir/changed.json")"
import json, sys
j = json.load(open(sys.argv[1]))
d = j["divergence"]
assert d["reason"] == "robot command differs" and d["original"]["line"] == int(sys.argv[2]), d
assert d["original"]["text"] == ">>Sent CMD = _MOVE:B" and d["replay"]["text"] == ">>Sent CMD = _MOVE:A", d
assert len(d["original"]["before"]) == 3 and not j["robot_same_order"] and j["share"] < 1
PY

# rovane-sim host --module-log: the module's log of a script.
printf 'init VeltoDVD\nend\n' > "$dir/s.host"
"$sim" host "$dir/s.host" --module-log "$dir/host.dbg" > /dev/null || fail "host --module-log: exit $?"
grep -q "RovaneInit" "$dir/host.dbg" && grep -q "RovaneEnd" "$dir/host.dbg" || fail "host --module-log: $(head -3 "$dir/host.dbg")"

# Refusals: no job in the log, no log, no rovane-sim (2); usage errors (1).
expect() {
  local want="$1"
  shift
  set +e
  "$@" > "$dir/x.out" 2>&1
  local rc=$?
  set -e
  [ "$rc" = "$want" ] || fail "$*: exit $rc, not $want: $(cat "$dir/x.out")"
}
expect 2 "$logtool" replay "$dir/host.dbg"
grep -q "holds no job" "$dir/x.out" || fail "no job: $(cat "$dir/x.out")"
grep -m 20 "CLOSE TRAY" "$dir/plain.dbg" > "$dir/idle.dbg"
expect 2 "$logtool" replay "$dir/idle.dbg"
grep -q "begins in the middle of the machine's work; the older log, .dbg2, given before it may hold the job" "$dir/x.out" \
  || fail "mid-job without a job: $(cat "$dir/x.out")"
expect 2 "$logtool" replay "$dir/missing.dbg"
expect 2 "$logtool" replay "$dir/plain.dbg" --sim "$dir/no-such-sim"
expect 1 "$logtool" replay
expect 1 "$logtool" replay "$dir/plain.dbg" --no-such-flag
expect 1 "$logtool" replay "$dir/plain.dbg" --answer error=MAYBE
expect 1 "$logtool" replay "$dir/plain.dbg" --setting =1
echo "replay checks passed"
