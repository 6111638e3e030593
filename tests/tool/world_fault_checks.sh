#!/usr/bin/env bash
# The world flags of faults a job meets, through rovane-sim host and run end to end: a disc
# printer that stops answering in the middle of a job (the tray messages, the give-up box whose
# Cancel aborts the job, every disc accounted for); a disc left inside the printer, and one left
# inside the laminator, taken out to reject G by the job's begin and counted as found in the
# machine; the flags refused without their device.
set -euo pipefail
tool="$1"
fail() { echo "FAILED: $*"; exit 1; }
# A host run's lines and its transcript (--transcript FILE) in one text, and the lines alone.
with_transcript() { cat - "$1"; }
calls() { grep -v '^\[' <<<"$1"; }
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
# One value of the pretty-printed JSON object: field NAME JSON.
field() { sed -n "s/^ *\"$1\": \"\\{0,1\\}\\([^\",]*\\)\"\\{0,1\\},\\{0,1\\}$/\\1/p" <<<"$2" | head -1; }
# The module's log lines as the transcript saw them written, without their timestamps.
log_lines() { grep -o 'Rovane_QIX.dbg [0-9]* bytes: .*' "$1" | sed 's/.*bytes: [0-9/]* [0-9:]*  //; s/\\r\\n$//'; }
# The commands the module queued after the log line $2, up to the next line that is not a queueing.
queued_after() { log_lines "$1" | sed -n "/^$2\$/,\$p" | sed -n '2,$p' | awk '!/^Queue_Cmd: /{stop=1} !stop' \
  | sed -n 's/^Queue_Cmd: \([^ ]*\) .*/\1/p' | tr '\n' ' '; }
printer=(--printer "Pellan IV" --setting "Printer=Pellan IV")

# --- the disc printer falls silent --------------------------------------------------------------
# Host: the printer stops answering at 30 s, as the arm carries the recorded disc to it. The
# tray-out wait shows the status message (119) after 6 s and the give-up box after 15 s; Cancel
# aborts the job and the request's poll returns 4; the abort carries the disc to G (its tray-in
# wait asks once more).
cat > "$dir/silent.txt" <<'SCRIPT'
answer "Unable to move the printer tray=CANCEL"
printfile C:\Labels\disc.PRN pellan-iv
init VeltoDVD
validprint 2000 C:\Labels\disc.PRN
job begin 1
move 1 100
wait 1
moveprint 1 2000 1 C:\Labels\disc.PRN
wait 1
status
job end 1
sleep 5000
end
SCRIPT
out="$("$tool" host "$dir/silent.txt" "${printer[@]}" --printer-silent-at 30 --wire --transcript "$dir/silent-host.tr" \
  | with_transcript "$dir/silent-host.tr")" || fail "silent: exit $?"
grep -q '^[0-9]* wait 1 -> 4 after' <<<"$out" || fail "silent: the print request's poll did not return 4: $(calls "$out")"
grep -q '^    state=. error=. printer=B tray=X ' <<<"$out" || fail "silent: status not B/X: $(calls "$out")"
box='msgbox shown caption="Error" flags=0x5 buttons=IDRETRY|IDCANCEL text="Unable to move the printer tray in/out.\nPlease make sure the printer is powered on and connected to the robotics via the 6-pin cable.\nClick "Retry" to try again or "Cancel" to abort the job."'
[ "$(grep -cF -- "$box" <<<"$out")" = 2 ] || fail "silent: not one give-up box per tray wait: $(calls "$out")"
[ "$(grep -c '^ *[0-9]* msgbox answered IDCANCEL$' <<<"$out")" = 2 ] || fail "silent: the boxes not cancelled: $(calls "$out")"
shown="$(grep -m1 '^ *[0-9]* dialog 117 shown caption="Robot Message"$' <<<"$out" | sed 's/^ *\([0-9]*\) .*/\1/')"
first_box="$(grep -m1 -F -- "$box" <<<"$out" | sed 's/^ *\([0-9]*\) .*/\1/')"
tray_out="$(grep -m1 -F 'MovePrinterTray( TRAY_OUT, ' <<<"$out" | sed 's/^\[ *\([0-9]*\)\.\([0-9][0-9][0-9]\).*/\1\2/')"
[ -n "$shown" ] && [ -n "$tray_out" ] && [ $((shown - tray_out)) -gt 6000 ] && [ $((shown - tray_out)) -lt 7000 ] \
  && [ $((first_box - tray_out)) -gt 15000 ] && [ $((first_box - tray_out)) -lt 16000 ] \
  || fail "silent: status message at $shown ms, box at $first_box ms, tray wait from $tray_out ms"
# The status message's text: 119 for the tray-out wait, then 117 (posted as its new text) for the abort's.
grep -q 'message: post to dialog 117 WM_COMMAND wParam=1081 lParam=117$' <<<"$out" \
  || fail "silent: message 117 not shown in the abort's tray-in wait"
[ "$(log_lines <(echo "$out") | grep -c '^User aborted in MovePrinterTray$')" = 2 ] || fail "silent: Cancel did not abort"
grep -q 'world robot: drop at G: disc 25$' <<<"$out" && ! grep -q 'world robot: lost' <<<"$out" \
  || fail "silent: the disc did not end at G"

# Run: the printer stops answering before the first print, while the arm takes the recorded disc
# out of its recorder. The operator tries the tray three times, then gives up: the job is aborted
# and every disc is accounted for (none lost: the unprinted ones are still in the recorders).
set +e
"$tool" run --discs 2 --drives 2 --print pellan-iv --printer-silent-at 100 --json --transcript "$dir/silent.tr" \
  > "$dir/silent.json" 2> "$dir/silent.err"
rc=$?
set -e
j="$(cat "$dir/silent.json")"
[ "$rc" = 2 ] && [ "$(field outcome "$j")" = aborted ] && [ "$(field lost "$j")" = 0 ] && [ "$(field aborted "$j")" -ge 1 ] \
  && [ "$(field invariants_broken "$j")" = "" ] || fail "silent run: exit $rc: $j $(cat "$dir/silent.err")"
grep -q 'world operator: answers dialog 117 caption="Robot Message" texts: The printer tray is not closing.\\nMake sure the auxiliary cable to the printer is connected.' "$dir/silent.tr" \
  || fail "silent run: message 117 not shown"
[ "$(grep -c 'answers message box caption="Error" flags=0x5 text="Unable to move the printer tray in/out.*with IDRETRY' "$dir/silent.tr")" = 3 ] \
  && grep -q 'answers message box caption="Error" flags=0x5 text="Unable to move the printer tray in/out.*with IDCANCEL' "$dir/silent.tr" \
  || fail "silent run: the give-up box not answered Retry three times, then Cancel"

# --- a disc left in the printer -------------------------------------------------------------------
cat > "$dir/left.txt" <<'SCRIPT'
init VeltoDVD
status
job begin 1
move 1 100
wait 1
job end 1
end
SCRIPT
out="$("$tool" host "$dir/left.txt" "${printer[@]}" --printer-disc-left --wire --transcript "$dir/left-host.tr" \
  | with_transcript "$dir/left-host.tr")" || fail "printer disc: exit $?"
grep -q '^    state=I error=. printer=I tray=D ' <<<"$out" || fail "printer disc: tray not D: $(calls "$out")"
tr="$dir/left.tr"; echo "$out" > "$tr"
[ "$(queued_after "$tr" 'Disc left in printer - queue commands to reject')" = "_TRAYOUT _MOVE:S PICKUP _PTI _MOVE:G DROPOFF " ] \
  || fail "printer disc: queued $(queued_after "$tr" 'Disc left in printer - queue commands to reject')"
[ "$(grep -A6 '^[0-9]* wait 1 ->' <<<"$out" | sed -n '2,7s/^ *[0-9]* //p' | tr '\n' ' ')" = "_TRAY _MOVE:S _PICK _PTI _MOVE:G _PICK " ] \
  || fail "printer disc: the robot's first commands: $(calls "$out")"
grep -q 'world robot: world: new disc 101 placed at S$' <<<"$out" && grep -q 'world robot: drop at G: disc 101$' <<<"$out" \
  || fail "printer disc: disc 101 not taken from the printer to G"
set +e
"$tool" run --discs 4 --drives 2 --print pellan-iv --printer-disc-left --json > "$dir/left.json" 2> "$dir/left.err"
rc=$?
set -e
j="$(cat "$dir/left.json")"
[ "$rc" = 0 ] && [ "$(field found_in_machine "$j")" = 1 ] && [ "$(field found_rejected "$j")" = 1 ] && [ "$(field G "$j")" = 1 ] \
  && [ "$(field in_output_bins "$j")" = 4 ] && [ "$(field prints "$j")" = 4 ] && [ "$(field unprinted "$j")" = 0 ] \
  || fail "printer disc run: exit $rc: $j $(cat "$dir/left.err")"
grep -q 'invariants hold: .*the disc found in the machine rejected' "$dir/left.err" || fail "printer disc run: $(cat "$dir/left.err")"

# --- a disc left in the laminator -----------------------------------------------------------------
# Host: the laminator is not in use at start-up, so its tray stays in with the disc ("D"); chosen
# in the options, the job's begin has the tray brought out first.
cat > "$dir/lam.txt" <<'SCRIPT'
init VeltoDVD
dialog 119 check 1200; click 1
options
job begin 1
move 1 100
wait 1
job end 1
end
SCRIPT
"$tool" host "$dir/lam.txt" "${printer[@]}" --laminator --lam-disc-left --wire --transcript "$dir/lam.tr" > /dev/null \
  || fail "laminator disc D: exit $?"
[ "$(queued_after "$dir/lam.tr" 'Disc left in laminator - queue commands to remove')" = "_LAMOUT _MOVE:E PICKUP _MOVE:G DROPOFF " ] \
  || fail "laminator disc D: queued $(queued_after "$dir/lam.tr" 'Disc left in laminator - queue commands to remove')"
grep -q 'laminator: command 1B 04 81 .*tray moving out$' "$dir/lam.tr" && grep -q 'world robot: drop at G: disc 101$' "$dir/lam.tr" \
  || fail "laminator disc D: the tray not brought out, or disc 101 not at G"
# Run: the laminator chosen at start-up, which brings its tray out with the disc ("W"): no tray
# command is queued for it.
set +e
"$tool" run --discs 4 --drives 2 --laminate --lam-disc-left --json --module-log "$dir/lamw.log" > "$dir/lamw.json" 2> "$dir/lamw.err"
rc=$?
set -e
j="$(cat "$dir/lamw.json")"
[ "$rc" = 0 ] && [ "$(field found_in_machine "$j")" = 1 ] && [ "$(field found_rejected "$j")" = 1 ] && [ "$(field G "$j")" = 1 ] \
  && [ "$(field in_output_bins "$j")" = 4 ] && [ "$(field laminations "$j")" = 4 ] \
  || fail "laminator disc W: exit $rc: $j $(cat "$dir/lamw.err")"
queued="$(sed 's/^[0-9/]* [0-9:]*  //; s/\r$//' "$dir/lamw.log" | sed -n '/^Disc left in laminator - queue commands to remove$/,$p' \
  | sed -n '2,$p' | awk '!/^Queue_Cmd: /{stop=1} !stop' | sed -n 's/^Queue_Cmd: \([^ ]*\) .*/\1/p' | tr '\n' ' ')"
[ "$queued" = "_MOVE:E PICKUP _MOVE:G DROPOFF " ] || fail "laminator disc W: queued $queued"

# --- the flags need their device ----------------------------------------------------------------
for bad in "run --printer-disc-left" "run --printer-silent-at 10" "run --print pellan-iv --lam-disc-left" \
           "host $dir/left.txt --printer-disc-left" "host $dir/left.txt --lam-disc-left" "run --printer-silent-at -1"; do
  set +e
  # shellcheck disable=SC2086
  "$tool" $bad > /dev/null 2>&1
  rc=$?
  set -e
  [ "$rc" = 1 ] || fail "'$bad': exit $rc, not 1"
done
echo "world fault checks passed"
