#!/usr/bin/env bash
# rovane-sim status, end to end: a QIX answers with four drives; the same seed replays the same
# output and the same log file; a noisy line still answers and the log shows the damage; a robot
# that is switched off makes the tool fail after three unanswered status attempts.
set -euo pipefail
tool="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAILED: $*"; exit 1; }

"$tool" status --seed 7 --out a > out1.txt || fail "seed 7 exit $?"
"$tool" status --seed 7 --out b > out2.txt || fail "seed 7 second run exit $?"
for key in state=I model=1 drives=4 error=. picker=X; do grep -qx "$key" out1.txt || fail "missing $key"; done
grep -q '^firmware=R 1.13 A\\r\\n$' out1.txt || fail "firmware line: $(grep firmware out1.txt)"
diff <(sed 's/^log=.*//' out1.txt) <(sed 's/^log=.*//' out2.txt) || fail "outputs differ"
log1="$(sed -n 's/^log=//p' out1.txt)"
log2="$(sed -n 's/^log=//p' out2.txt)"
cmp "$log1" "$log2" || fail "log files differ"
grep -q "GetRoboVersion: 4 drives  ZorvikType=1" "$log1" || fail "version line not logged"

"$tool" status --seed 7 --noise 0.2 --out c > noisy.txt || fail "noisy line: no answer"
grep -qx state=I noisy.txt || fail "noisy state"
grep -qE 'CHECKSUM ERROR|bytes eaten|no response' "$(sed -n 's/^log=//p' noisy.txt)" || fail "no damage in the log"

if "$tool" status --seed 7 --robot-off --out d > off.txt 2> off.err; then fail "robot off: exit 0"; fi
grep -q "did not answer" off.err || fail "robot off: reason '$(cat off.err)'"
offlog="$(sed -n 's/^log=//p' off.txt)"
[ "$(grep -c 'NOTE: PortRead() no response in GetSystemStatus' "$offlog")" = 3 ] || fail "three unanswered attempts"

"$tool" status --bogus > /dev/null 2>&1 && fail "unknown flag accepted"
"$tool" status --noise 2 > /dev/null 2>&1 && fail "noise 2 accepted"
echo "status checks passed"
