#!/usr/bin/env bash
# rovane-sim host, end to end: a host script starts the module on a four-drive unit whose
# recorders are known from the settings file and ends it twice; the port refusal with Retry and the
# options dialog; the print-only host; a job, with the manual movements refused during it; print
# files checked and a disc printed; the laminator chosen in the options or printer selection
# dialog; the same seed printing the same lines; the README's example with the default operator,
# the script's answers before it, ABORTJOB; the script reader's cases, bad and good.
set -euo pipefail
tool="$1"
fail() { echo "FAILED: $*"; exit 1; }
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

cat > "$dir/start.txt" <<'SCRIPT'
# The stored printer answers on the robot's cable: no question at all.
init VeltoDVD
end
end
SCRIPT
out="$("$tool" host "$dir/start.txt" --printer "Pellan IV" --setting "Printer=Pellan IV" --wire)" || fail "start: exit $?"
grep -qx '[0-9]* init "VeltoDVD" -> 4' <<<"$out" || fail "start: result: $out"
[ "$(grep -c '^    recorder "[1-4],1,Duplicator .* (.:),16"$' <<<"$out")" = 4 ] || fail "start: recorder lines: $out"
grep -qx '    product "DuplicatorQIX" error=0' <<<"$out" || fail "start: product: $out"
[ "$(grep -c '^[0-9]* end -> 1$' <<<"$out")" = 2 ] || fail "start: end results: $out"
[ "$(grep -c ' _RESET$' <<<"$out")" = 1 ] || fail "start: the robot must get one _RESET: $out"
grep -q 'msgbox' <<<"$out" && fail "start: no message expected: $out"
[ "$out" = "$("$tool" host "$dir/start.txt" --printer "Pellan IV" --setting "Printer=Pellan IV" --wire)" ] \
  || fail "same seed, other output"

cat > "$dir/port.txt" <<'SCRIPT'
answer "Port not found=OK"
answer "Problem opening serial port=RETRY"
answer "Unable to communicate with the laminator=CANCEL"
dialog 119 select 1080 COM2; click 1
dialog 122 click 1
init VeltoDVD
SCRIPT
out="$("$tool" host "$dir/port.txt" --port COM2)" || fail "port: exit $?"
grep -qx '[0-9]* init "VeltoDVD" -> 4' <<<"$out" || fail "port: result: $out"
grep -q 'buttons=IDRETRY|IDCANCEL text="Problem opening serial port. Click Retry to select another port."' <<<"$out" \
  || fail "port: message 134: $out"
grep -q 'dialog 119 shown caption="Duplicator Options/Services"' <<<"$out" || fail "port: options dialog: $out"

# A dialog line's actions follow each other as a person's do: "Check Communications" on COM2 (no
# such port) shows its two boxes, each closed before the operator chooses COM1 and clicks OK,
# which only then stores the port.
cat > "$dir/check-com.txt" <<'SCRIPT'
answer "Unable to communicate with the laminator=CANCEL"
init VeltoDVD
dialog 119 select 1080 COM2; click 1078; select 1080 COM1; click 1
options
end
SCRIPT
out="$("$tool" host "$dir/check-com.txt" --printer "Pellan IV" --setting "Printer=Pellan IV" --transcript "$dir/check-com.tr")" \
  || fail "check-com: exit $?: $out"
# The transcript's boxes, their answers and the port's settings write, in their order.
order="$(grep -E '^\[ *[0-9.]+\] host (window: msgbox (shown|answered)|profile: write .*\] Com = )' "$dir/check-com.tr" \
  | sed -E 's/^\[ *[0-9.]+\] host //; s/window: msgbox shown .* text="([^.\\"]*).*/shown \1/;
            s/window: msgbox answered (.*)/answered \1/; s/profile: write .* Com = (.*)/Com = \1/')"
expected='shown Unable to communicate with the laminator
answered IDCANCEL
shown Error opening COM2
answered IDOK
shown No response
answered IDOK
Com = "COM1"'
[ "$order" = "$expected" ] || fail "check-com: boxes and settings in this order:
$order
expected:
$expected"
grep -q 'msgbox shown caption="Optical Disc Duplicator" flags=0x40 buttons=IDOK text="No response.\\nMake sure the robotics are powered on and the \\nserial cable is connected."' <<<"$out" \
  || fail "check-com: message 130 as the host prints it: $out"
grep -q 'ignored' "$dir/check-com.tr" && fail "check-com: an action was ignored: $out"

# Code 4 of Rovane_JobBeginsOrEnds is only logged: it returns 1, sends the robot nothing, shows
# nothing, counts no job (the options dialog opens) and ends none (a begin three seconds later
# is not concurrent).
cat > "$dir/job-other.txt" <<'SCRIPT'
answer "Unable to communicate with the laminator=CANCEL"
init VeltoDVD
job 4 3
dialog 119 click 2
options
job begin 1
job end 1
end
SCRIPT
out="$("$tool" host "$dir/job-other.txt" --printer "Pellan IV" --setting "Printer=Pellan IV" --wire --transcript "$dir/job-other.tr")" \
  || fail "job-other: exit $?: $out"
grep -A1 '^[0-9]* job 4 3 -> ' <<<"$out" | paste -sd'|' | grep -qx '[0-9]* job 4 3 -> 1|[0-9]* options -> 1' \
  || fail "job-other: code 4's result, or something under it: $out"
grep -q 'dialog 119 shown caption="Duplicator Options/Services"' <<<"$out" \
  && ! grep -q 'Cannot display Options dialog' <<<"$out" || fail "job-other: the options dialog was refused: $out"
log="$(sed -nE 's/^\[ *[0-9.]+\] host file: write .*Rovane_QIX\.dbg [0-9]+ bytes: [0-9\/]+ [0-9:]+  (.*)\\r\\n$/\1/p' "$dir/job-other.tr")"
grep -A1 -x 'JobBeginsOrEnds 4   dwHowMany=3' <<<"$log" | paste -sd'|' \
  | grep -qx 'JobBeginsOrEnds 4   dwHowMany=3|JobBeginsOrEnds returning OK' || fail "job-other: code 4's log lines: $log"
grep -qx 'ConcurrentJob = FALSE' <<<"$log" || fail "job-other: the begin after code 4 was concurrent: $log"
[ "$(grep -c '^    [0-9]* _RESET$' <<<"$out")" = 2 ] || fail "job-other: a reset at the job's end and one at the module's: $out"

cat > "$dir/quessa.txt" <<'SCRIPT'
answer "Unable to communicate with the laminator=CANCEL"
dialog 122 click 1
init Quessa
SCRIPT
out="$("$tool" host "$dir/quessa.txt")" || fail "quessa: exit $?"
grep -qx '[0-9]* init "Quessa" -> 99' <<<"$out" || fail "quessa: result: $out"
grep -q '^    recorder' <<<"$out" && fail "quessa: recorder lines: $out"

# Every refusal start-up can meet, as the user sees it: script lines, world flags, the message's
# flags and text, and the result.
printer_answers='answer "Unable to communicate with the laminator=CANCEL"
dialog 122 click 1'
row() {  # name, script, flags (one string), expected message (flags and start of text), result
  local name="$1" script="$2" flags="$3" message="$4" result="$5"
  printf '%s\n%s\n' "$printer_answers" "$script" > "$dir/$name.txt"
  # shellcheck disable=SC2086
  out="$(eval "\"$tool\" host \"$dir/$name.txt\" $flags")" || fail "$name: exit $?: $out"
  grep -qF -- "$message" <<<"$out" || fail "$name: message '$message' not shown: $out"
  grep -qx "[0-9]* init \"VeltoDVD\" -> $result" <<<"$out" || fail "$name: result: $out"
}
row empty-list 'init VeltoDVD ""' '' 'flags=0x40 buttons=IDOK text="No CD Recorders have been found.' 0
row no-line-feed 'init VeltoDVD "1,0,4,0,E,KESTREL DVD-RW"' '' \
  'flags=0x1030 buttons=IDOK text="Invalid Drive String.  Reboot and try again"' 0
row port-cancel 'answer "Port not found=OK"
answer "Problem opening serial port=CANCEL"
init VeltoDVD' '--port COM3' 'flags=0x45 buttons=IDRETRY|IDCANCEL text="Problem opening serial port.' 0
row no-response 'answer "No response=CANCEL"
init VeltoDVD' '--robot-off' 'flags=0x45 buttons=IDRETRY|IDCANCEL text="No response.\nMake sure' 0
row older-model 'answer "No response=CANCEL"
init VeltoDVD' '--model N' 'text="No response.' 0
row no-recorders 'init VeltoDVD' '--drive-code X' \
  'flags=0x40 buttons=IDOK text="The AutoloaderQIX is not configured for any recording drives."' 0
row no-external 'init VeltoDVD "1,0,1,0,E,INTERNAL DVD\r\n"' '' \
  'flags=0x10000 buttons=IDOK text="No external drives were found on your system' 0
row dialog-cancelled 'dialog 121 click 1002
init VeltoDVD' '--no-stored-serials' 'dialog 121 closed result=0' 0
row dvd-r 'init VeltoDVD' '--name "Pioneer DVD-RW DVR-112D" --name "Pioneer DVD-RW DVR-112D"' \
  'caption="ROVANE" flags=0x1030 buttons=IDOK text="This Duplicator is approved for 0 DVD-R drives.\nYou selected 2 DVD-R drives."' 0
row no-label-app 'init VeltoDVD' '--no-label-app' \
  'flags=0x10000 buttons=IDOK text="The SureThing program could not be located.' 4

# A job through the script: load two recorders, unload one, reject the other. The manual
# movements are refused while the job is counted.
cat > "$dir/job.txt" <<'SCRIPT'
answer "Unable to communicate with the laminator=CANCEL"
dialog 122 click 1
init VeltoDVD
job begin 2
movements
move 1 100
move 2 100
wait 1
wait 2
move 1 200
move 2 300
wait 1
wait 2
job end 2
end
SCRIPT
out="$("$tool" host "$dir/job.txt" --wire)" || fail "job: exit $?: $out"
[ "$(grep -c '^[0-9]* wait [12] -> 1 after' <<<"$out")" = 4 ] || fail "job: waits: $out"
grep -q ' _MOVE:G$' <<<"$out" || fail "job: no reject: $out"
grep -qx '[0-9]* movements -> 1' <<<"$out" \
  && grep -q 'caption="Rovane" flags=0x0 buttons=IDOK text="Cannot do Manual Movements while jobs are running"' <<<"$out" \
  || fail "job: movements not refused: $out"
grep -q 'dialog 118' <<<"$out" && fail "job: the movements dialog opened during the job: $out"
[ "$(grep -c ' _RESET$' <<<"$out")" = 2 ] || fail "job: one reset at the job's end, one at the module's: $out"
# A move nobody follows to its end breaks the run's invariants.
grep -v '^wait' "$dir/job.txt" > "$dir/unwaited.txt"
set +e
"$tool" host "$dir/unwaited.txt" > /dev/null 2> "$dir/err.txt"
rc=$?
set -e
[ "$rc" = 4 ] || fail "unwaited moves: exit $rc"
grep -q 'never seen to end with 1 or 4' "$dir/err.txt" || fail "unwaited moves: $(cat "$dir/err.txt")"

# Print files made by the script, checked and printed: a good file, a short one, a missing one
# (acceptable only for record and print), then one disc recorded and printed.
cat > "$dir/print.txt" <<'SCRIPT'
printfile C:\Labels\a.prn pellan-iv
printfile C:\Labels\bad.prn short
answer "PRN file is invalid=OK"
init VeltoDVD
validprint 2000 C:\Labels\a.prn
validprint 2000 C:\Labels\bad.prn
validprint 2000 C:\Labels\missing.prn
validprint 1000 C:\Labels\missing.prn
job begin 1
move 1 100
wait 1
moveprint 1 2000 1 C:\Labels\a.prn
wait 1
checkprinting
job end 1
end
SCRIPT
out="$("$tool" host "$dir/print.txt" --printer "Pellan IV" --setting "Printer=Pellan IV")" || fail "print: exit $?: $out"
grep -qx '0 printfile "C:\\\\Labels\\\\a.prn" pellan-iv -> 4096' <<<"$out" || fail "print: printfile: $out"
[ "$(grep -c '^[0-9]* validprint ' <<<"$out")" = 4 ] || fail "print: validprint lines: $out"
grep -q 'validprint 2000 "C:\\\\Labels\\\\a.prn" -> 1$' <<<"$out" || fail "print: good file refused: $out"
grep -q 'validprint 2000 "C:\\\\Labels\\\\bad.prn" -> 0$' <<<"$out" || fail "print: short file accepted: $out"
grep -q 'text="The PRN file is invalid."' <<<"$out" || fail "print: no message 161: $out"
grep -q 'validprint 2000 "C:\\\\Labels\\\\missing.prn" -> 1$' <<<"$out" \
  && grep -q 'validprint 1000 "C:\\\\Labels\\\\missing.prn" -> 0$' <<<"$out" || fail "print: missing file: $out"
grep -q '^[0-9]* moveprint 1 2000 1 "C:\\\\Labels\\\\a.prn" -> 1$' <<<"$out" || fail "print: moveprint: $out"
[ "$(grep -c '^[0-9]* wait 1 -> 1 after' <<<"$out")" = 2 ] || fail "print: waits: $out"
grep -qx '[0-9]* checkprinting -> 1' <<<"$out" || fail "print: checkprinting: $out"

# The laminator chosen as a user chooses it: ticked in the options dialog before the job, or in
# the printer selection dialog at start-up; either way the printed disc goes through it ("E") and
# the laminating dialog opens and closes.
cat > "$dir/lam-job.txt" <<'SCRIPT'
job begin 1
move 1 100
wait 1
moveprint 1 2000 1 C:\Labels\a.prn
wait 1
job end 1
end
SCRIPT
cat - "$dir/lam-job.txt" > "$dir/lam-options.txt" <<'SCRIPT'
printfile C:\Labels\a.prn pellan-iv
init VeltoDVD
dialog 119 check 1200; click 1
options
SCRIPT
cat - "$dir/lam-job.txt" > "$dir/lam-select.txt" <<'SCRIPT'
printfile C:\Labels\a.prn pellan-iv
dialog 122 select 1081 "Pellan IV on LPT1:"; check 1197; click 1
init VeltoDVD
SCRIPT
for how in options:119 select:122; do
  id="${how#*:}"; how="${how%:*}"
  flags=(--printer "Pellan IV" --laminator --wire)
  [ "$how" = options ] && flags+=(--setting "Printer=Pellan IV")
  out="$("$tool" host "$dir/lam-$how.txt" "${flags[@]}")" || fail "laminator ($how): exit $?: $out"
  grep -q "dialog $id closed" <<<"$out" || fail "laminator ($how): dialog $id not shown: $out"
  [ "$(grep -c '^[0-9]* wait 1 -> 1 after' <<<"$out")" = 2 ] && [ "$(grep -c ' _MOVE:E$' <<<"$out")" = 2 ] \
    && grep -q 'dialog 125 shown caption="Laminating..."' <<<"$out" && grep -q 'dialog 125 closed' <<<"$out" \
    || fail "laminator ($how): the disc did not go through the laminator: $out"
  # With --wire the documents the printers received come among the robot's commands: the heater
  # started, the print file (4096 bytes of pellan-iv), then the laminator's tray out for the
  # printed disc, the lamination and the tray out with it; and at the end the places holding discs.
  [[ "$(grep -E '^    [0-9]+ (lam|doc) ' <<<"$out" | sed -E 's/^    [0-9]+ //' | tr '\n' ';')" \
      == *'lam HEATER;doc "Pellan IV" 4096 bytes fba00ada;lam TRAYOUT;lam LAMINATE;lam TRAYOUT;' ]] \
    || fail "laminator ($how): documents: $(grep -E '^    [0-9]+ (lam|doc) ' <<<"$out")"
  grep -qx 'place 3 1' <<<"$out" || fail "laminator ($how): places: $out"
done

# "Record-Print" is on for any non-zero value: with -1, as with 1, a record-and-print request
# reports done once its disc has left the recorder; with 0 only once the printed disc is out.
cat > "$dir/record-print.txt" <<'SCRIPT'
answer "Unable to communicate with the laminator=CANCEL"
printfile C:\Labels\a.PRN pellan-iv
init VeltoDVD
job begin 2
move 1 100
wait 1
moveprint 1 2000 1 C:\Labels\a.PRN
wait 1
job end 2
end
SCRIPT
polls() {
  "$tool" host "$dir/record-print.txt" --printer "Pellan IV" --setting "Printer=Pellan IV" --setting "Record-Print=$1" \
    | sed -n 's/^[0-9]* wait 1 -> 1 after \([0-9]*\) polls$/\1/p' | tail -1
}
on="$(polls 1)" minus_one="$(polls -1)" off="$(polls 0)"
[ -n "$on" ] && [ "$minus_one" = "$on" ] && [ "$off" -gt "$on" ] \
  || fail "Record-Print: polls for the print request: 1 -> '$on', -1 -> '$minus_one', 0 -> '$off'"

# The README's example: no answer line, the default operator answers the laminator that is not
# there (Cancel) and the printer selection dialog (OK), and the job's load ends.
printf 'init VeltoDVD\njob begin 4\nmove 1 100\nwait 1\nend\n' > "$dir/readme.txt"
out="$("$tool" host "$dir/readme.txt")" || fail "README example: exit $?: $out"
grep -qx '[0-9]* init "VeltoDVD" -> 4' <<<"$out" && grep -qx '[0-9]* wait 1 -> 1 after [0-9]* polls' <<<"$out" \
  && grep -qx '    [0-9]* msgbox answered IDCANCEL' <<<"$out" && grep -q 'dialog 122 closed' <<<"$out" \
  || fail "README example: $out"

# The script's answer lines come before the default operator's: the first laminator box gets the
# script's Retry (once), the next one the default Cancel.
printf 'answer "Unable to communicate with the laminator=RETRY" once\ninit VeltoDVD\nend\n' > "$dir/first.txt"
out="$("$tool" host "$dir/first.txt")" || fail "script first: exit $?: $out"
[ "$(grep -o 'msgbox answered ID[A-Z]*' <<<"$out" | paste -sd' ')" = "msgbox answered IDRETRY msgbox answered IDCANCEL" ] \
  || fail "script first: answers: $out"

# ABORTJOB answers the robot's status message as run --answer does: the printer falls silent
# while the printed disc's tray goes out, its status message gets ABORT Job and the request's
# poll returns 4.
cat > "$dir/abortjob.txt" <<'SCRIPT'
printfile C:\Labels\disc.PRN pellan-iv
answer "tray is not opening=ABORTJOB" once
init VeltoDVD
job begin 1
move 1 100
wait 1
moveprint 1 2000 1 C:\Labels\disc.PRN
wait 1
job end 1
end
SCRIPT
out="$("$tool" host "$dir/abortjob.txt" --printer "Pellan IV" --setting "Printer=Pellan IV" --printer-silent-at 30 \
  --transcript "$dir/abortjob.tr")" || fail "abortjob: exit $?: $out"
grep -qx '[0-9]* wait 1 -> 4 after [0-9]* polls' <<<"$out" \
  && grep -q 'answers dialog 117 .*tray is not opening.*(rule script line 2: answer tray is not opening=ABORTJOB): click 1178$' \
    "$dir/abortjob.tr" || fail "abortjob: $out"

# The script reader: every case of host_script_cases.sh, a bad script refused before anything runs
# with its line and problem (exit 1), a good one read as written (--check).
mkdir "$dir/cases"
bash "$(dirname "$0")/host_script_cases.sh" "$dir/cases"
checked=0
while IFS=$'\t' read -r name code expected; do
  script="$dir/cases/$name.txt"
  set +e
  if [ "$code" = 0 ]; then
    got="$("$tool" host --check "$script" 2>"$dir/err" | awk 'NR > 1 { printf " | " } { printf "%s", $0 }')"
  else
    got="$("$tool" host "$script" 2>"$dir/err")"
  fi
  rc=$?
  set -e
  if [ "$code" = 0 ]; then
    [ "$rc" = 0 ] && [ "$got" = "$expected" ] && [ ! -s "$dir/err" ] \
      || fail "script $name: exit $rc, read as '$got', not '$expected' $(cat "$dir/err")"
  else
    [ "$rc" = 1 ] && [ -z "$got" ] && [ "$(cat "$dir/err")" = "rovane-sim host: $script:$expected" ] \
      || fail "script $name: exit $rc: '$(cat "$dir/err")', not '$script:$expected'"
  fi
  checked=$((checked + 1))
done < "$dir/cases/cases"
[ "$checked" -ge 40 ] || fail "only $checked script cases"
# A folder and a missing file are reported, never read as an empty script.
for path in "$dir" "$dir/missing.txt"; do
  set +e
  "$tool" host "$path" > /dev/null 2> "$dir/err"
  rc=$?
  set -e
  [ "$rc" = 1 ] && grep -qx "rovane-sim host: cannot read the script '$path': .*" "$dir/err" || fail "$path: exit $rc $(cat "$dir/err")"
done
grep -q 'it is a folder' <<<"$("$tool" host "$dir" 2>&1)" || fail "a folder not named as such"
"$tool" host "$dir/start.txt" --drives 3 > /dev/null 2>&1 && fail "--drives 3 accepted"
# Faults counted in the machine's events strike at that event: the second pick fails (F), the
# third move ends in a movement error (C), the fourth move is paused; each is cleared by the
# person and the job ends. A fault spelled wrong is refused with its flag.
cat > "$dir/faults.txt" <<'SCRIPT'
answer "SureThing=OK"
init VeltoDVD
job begin 2
move 1 100
wait 1
move 2 100
wait 2
move 1 200
wait 1
move 2 200
wait 2
job end 2
end
SCRIPT
for fault in F@pick:2 C@move:3 pause:move:4; do
  case "$fault" in
    pause:*) flag=(--pause-on "${fault#pause:}"); want='operator: Pause .after the motion.'; kind=move; n=4 ;;
    F@*) flag=(--robot-error-on "$fault"); want='error F: disc not picked'; kind=pick; n=2 ;;
    *) flag=(--robot-error-on "$fault"); want='error C: movement error'; kind=move; n=3 ;;
  esac
  "$tool" host "$dir/faults.txt" --no-label-app "${flag[@]}" --transcript "$dir/faults.tr" >"$dir/faults.out" \
    || fail "$fault: exit $?: $(cat "$dir/faults.out")"
  grep -q '^[0-9]* job end 2 -> 1$' "$dir/faults.out" || fail "$fault: the job did not end: $(cat "$dir/faults.out")"
  # The robot's motions in the transcript up to the fault: it strikes during the Nth of its kind.
  motions="$(grep -E 'world robot: (_MOVE:.: move to|_PICK: (pick up|drop off) at|'"$want"')' "$dir/faults.tr" \
    | sed -E 's/.*_MOVE:.: move to.*/move/; s/.*_PICK: pick up.*/pick/; s/.*_PICK: drop off.*/drop/; s/.*(error|Pause).*/FAULT/')"
  before="$(sed '/FAULT/q' <<<"$motions" | grep -c "^$kind$" || true)"
  grep -q FAULT <<<"$motions" || fail "$fault: '$want' not in the transcript"
  [ "$before" = "$n" ] || fail "$fault: struck after $before motions of kind $kind, not $n: $motions"
done
# --speed makes the machine's motions quicker, not the module's waits: the same job at --speed 4
# makes the same calls with the same results, boxes and robot commands, and ends sooner.
project() {
  sed -nE 's/^[0-9]+ (.*) after [0-9]+ polls$/\1/p; t; s/^[0-9]+ (.*)$/\1/p; s/^    [0-9]+ ((msgbox|dialog).*)$/  \1/p' "$1"
  sed -nE 's/^    [0-9]+ (_.*)$/\1/p' "$1"
}
"$tool" host "$dir/faults.txt" --no-label-app --wire >"$dir/speed1.out" || fail "speed 1: exit $?"
"$tool" host "$dir/faults.txt" --no-label-app --wire --speed 4 >"$dir/speed4.out" || fail "speed 4: exit $?"
diff <(project "$dir/speed1.out") <(project "$dir/speed4.out") || fail "--speed 4 changed what the host saw"
end1="$(sed -nE 's/^([0-9]+) end -> 1$/\1/p' "$dir/speed1.out")" end4="$(sed -nE 's/^([0-9]+) end -> 1$/\1/p' "$dir/speed4.out")"
[ -n "$end4" ] && [ "$end4" -lt $((end1 * 2 / 3)) ] || fail "--speed 4: the job ended at $end4 ms, at speed 1 at $end1 ms"
"$tool" host "$dir/faults.txt" --speed 0.5 >/dev/null 2>&1 && fail "--speed 0.5 accepted"
for bad in "--robot-error-on A@move:1" "--robot-error-on C@pick:1" "--robot-error-on F@pick:0" "--pause-on lift:2" \
           "--robot-error-on F@12" "--print-fail x"; do
  # shellcheck disable=SC2086
  "$tool" host "$dir/faults.txt" $bad >/dev/null 2>"$dir/err" && fail "$bad accepted"
  grep -q "^rovane-sim host: ${bad%% *}" "$dir/err" || fail "$bad: $(cat "$dir/err")"
done
echo "host checks passed"
