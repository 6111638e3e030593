#!/usr/bin/env bash
# rovane-sim's command lines as a newcomer types them: each bad input is refused with a message
# that names what is wrong, and the exit code its help gives (1 for a usage error or an output
# file that cannot be written, 2 for a job the module aborted). Then the inputs that used to go
# wrong quietly and now work: the robot on COM2 in a job, a queue overflow played to its abort,
# a transcript written to a file by each command that takes one.
set -euo pipefail
tool="$(realpath "$1")"
fail() { echo "FAILED: $*"; exit 1; }
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
cd "$dir"

# One row: expected exit code | text stderr must hold | the arguments (as the shell reads them).
# No row may reach a world that runs for long: each is refused before it starts, or is a short job.
rows=$(cat <<'ROWS'
1|unknown command 'bogus'; the commands: run, demo, status|bogus
1|unknown option '--bogus': options come after the command|--bogus
1|unknown option '--seed': options come after the command|--seed 3 run
1|The following argument was not expected: --bogus|run --bogus
1|--seed: takes a whole number from 0 to 18446744073709551615 (without a leading 0), not '010'|run --seed 010
1|--seed: takes a whole number from 0 to 18446744073709551615, not '99999999999999999999|run --seed 99999999999999999999
1|--discs: takes 1 to 10000 (a whole number written in decimal), not '0x10'|run --discs 0x10
1|--discs: takes 1 to 10000, not '10001'|run --discs 10001
1|--record-time: takes 0 to 86400 seconds (a number written in decimal), not '0x10'|run --record-time 0x10
1|--fail-rate: takes a probability from 0 to 1, not 'nan'|run --fail-rate nan
1|--record-print: takes 0 to 1, not '2'|run --record-print 2
1|--robot-error: takes CODE@SECONDS (A..F, 0 to 172800), not 'C@0x10'|run --robot-error C@0x10
1|--budget: takes 0.01 to 1000 hours, not '0.001'|run --budget 0.001
1|--budget: takes 0.01 to 1000 hours, not '1001'|run --budget 1001
1|--drives: takes 2 or 4, not 1 (a QIX reports two drives for a single recorder|run --drives 1
1|--drives: takes 2 or 4, not 1|movements --discs 4 --drives 1
1|--discs: the test dialog counts from 4 to 400 in steps of 4 (the robot's drive count), so it cannot show 3|movements --discs 3
1|--discs: the test dialog counts from 2 to 400 in steps of 2 (the robot's drive count), so it cannot show 5|movements --discs 5 --drives 2
1|--printer: takes a printer name, not an empty text|run --printer ''
1|--printer-port: takes a spooler port, not an empty text|run --printer-port ''
1|--model: takes the model letters, not an empty text|run --model ''
1|--firmware: takes a firmware version, not an empty text|status --firmware ''
1|--name: takes a model name, not an empty text|run --name ''
1|--answer: takes PATTERN=BUTTON, not ''|run --answer ''
1|--setting: takes KEY=VALUE, not ''|run --setting ''
1|--transcript: takes a file name, not an empty text|run --transcript ''
1|--module-log: takes a file name, not an empty text|run --module-log ''
1|--out: takes a folder name, not an empty text|status --out ''
1|--drive-code: takes one character|status --drive-code ''
1|--seed: takes a whole number from 0 to 18446744073709551615 (without a leading 0), not '07'|play --seed 07 A
1|COMMAND: the module's queues know no command 'BOGUS'; they know _MOVE:|play BOGUS
1|COMMAND: the module's queues know no command '_MOVE:X'|play _MOVE:X
1|COMMAND: the module's queues know no command ''|play ''
1|--printer-queue: the module's queues know no command 'PRINT:5'|play A --printer-queue PRINT:5
1|--printer-queue: the module's queues know no command ''|play A --printer-queue ''
1|rovane-sim run: cannot write --transcript '/dev/full': No space left on device|run --discs 1 --transcript /dev/full
1|rovane-sim play: cannot write --transcript '/dev/full': No space left on device|play A --transcript /dev/full
1|rovane-sim status: cannot write --transcript '/dev/full': No space left on device|status --transcript /dev/full
1|rovane-sim status: cannot write the world's files to '/dev/full/out'|status --out /dev/full/out
1|rovane-sim run: cannot write standard output: No space left on device|run --discs 1 >/dev/full
2|rovane-sim play: the module aborted the job: "Fatal GLOBAL Queue overflow!"|play $(printf 'PICKUP %.0s' {1..161})
2|rovane-sim play: the module aborted the job: "Fatal GLOBAL Command overflow!"|play LAM:123456789
ROWS
)
while IFS='|' read -r want text args; do
  set +e
  eval "timeout 120 \"\$tool\" $args" > /dev/null 2> err.txt
  rc=$?
  set -e
  [ "$rc" = "$want" ] || fail "'$args': exit $rc, not $want: $(cat err.txt)"
  grep -qF -- "$text" err.txt || fail "'$args': stderr lacks \"$text\": $(cat err.txt)"
done <<<"$rows"

# The robot on COM2: the settings file names the port, the module opens it, the job completes.
"$tool" run --port COM2 --discs 2 --transcript port.tr > port.txt 2> port.err || fail "COM2: exit $?: $(cat port.err)"
grep -q '^job completed: 2 discs' port.txt || fail "COM2: $(cat port.txt)"
grep -q 'profile: read .*\[PORTS\] Com -> "COM2"' port.tr || fail "COM2: the module did not read its port"
grep -q 'Port not found' port.tr && fail "COM2: the module looked on another port"

# A transcript FILE from play and status too, the same as they print nothing of it.
"$tool" play --transcript play.tr A _MOVE: PICKUP _MOVE:A DROPOFF DONE:0 > play.txt || fail "play transcript: exit $?"
grep -q 'world robot: pick from 4: disc' play.tr || fail "play transcript: no pick in it"
grep -q '^\[' play.txt && fail "play transcript: printed on stdout too"
"$tool" status --transcript status.tr --out out > status.txt || fail "status transcript: exit $?"
grep -q 'serial' status.tr || fail "status transcript: no serial line in it"
# The log status names is the file it wrote.
[ -s "$(sed -n 's/^log=//p' status.txt)" ] || fail "status: log=$(sed -n 's/^log=//p' status.txt) not written"
echo "usage checks passed"
