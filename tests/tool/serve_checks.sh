#!/usr/bin/env bash
# rovane-sim serve, end to end in real time: a program on the pseudo-terminal gets the robot's
# version line and status frame, closes the port, opens it again and moves the arm; tray lines
# appended to the shared folder's trays.txt move the recorders' trays once they are complete, and
# an unknown unit is refused; SIGTERM ends the run with the places of the discs and removes the
# link; --seconds ends a run by itself; a path that is not a link is never replaced. With printers:
# printers.txt lists them, a raw document in docs/ reaches the printer on its port, printer-data
# requests are answered from the world's laminator ("pass" for other printers). The faults the
# engine's stand-in libraries play (faults.txt).
# serve is a real-time server: every wait polls with a generous time-out, no duration is checked.
set -euo pipefail
tool="$1"
fail() { echo "FAILED: $*"; exit 1; }
dir="$(mktemp -d)"
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap cleanup EXIT

# wait_for FILE REGEX: until a line of FILE matches (at most 8 s).
wait_for() {
  for _ in $(seq 160); do
    grep -qE "$2" "$1" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# talk TTY SEND [EXPECT]: writes SEND on the terminal and, with EXPECT ("version" or "frame"),
# reads the robot's answer and checks it.
talk() {
  python3 - "$@" <<'PY'
import os, select, sys, time, tty
path, send = sys.argv[1], sys.argv[2].encode()
expect = sys.argv[3] if len(sys.argv) > 3 else ""
fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
tty.setraw(fd)
os.write(fd, send)
def read_until(done):
    got, deadline = b"", time.monotonic() + 8
    while time.monotonic() < deadline and not done(got):
        if select.select([fd], [], [], 0.1)[0]:
            got += os.read(fd, 256)
    return got
if expect == "version":
    line = read_until(lambda b: b.endswith(b"\r\n"))
    if line != b"ZORVIK QIX VERSION:R 1.13 A\r\n":
        sys.exit("version line: %r" % line)
elif expect == "frame":
    f = read_until(lambda b: len(b) >= 11)
    if len(f) != 11 or f[:2] != b"S\n" or f[10:] != b"$" or sum(f[:9]) % 256 != f[9] or f[2:3] != b"I":
        sys.exit("status frame: %r" % f)
os.close(fd)
PY
}

# A path that exists and is not a link is left alone.
touch "$dir/plain"
"$tool" serve --pty "$dir/plain" --seconds 1 > /dev/null 2> "$dir/plain.err" && fail "a plain file was accepted"
grep -q "exists and is not a symbolic link" "$dir/plain.err" || fail "plain file: $(cat "$dir/plain.err")"
[ -f "$dir/plain" ] && [ ! -L "$dir/plain" ] || fail "the plain file was touched"

# An old link is replaced.
ln -s /nonexistent "$dir/tty"
"$tool" serve --pty "$dir/tty" --share "$dir/share" > "$dir/out.txt" 2> "$dir/err.txt" &
pid=$!
for _ in $(seq 160); do
  case "$(readlink "$dir/tty" || true)" in /dev/pts/*) break ;; esac
  sleep 0.05
done
case "$(readlink "$dir/tty")" in /dev/pts/*) ;; *) fail "no link to the terminal: $(cat "$dir/err.txt")" ;; esac
grep -q "the robot on $dir/tty -> /dev/pts/.*shared folder $dir/share; seed 1" "$dir/err.txt" \
  || fail "start line: $(cat "$dir/err.txt")"

printf '1 E A SN-DRIVE-1\n2 F B SN-DRIVE-2\n3 G C SN-DRIVE-3\n4 H D SN-DRIVE-4\nend\n' | cmp - "$dir/share/units.txt" \
  || fail "units.txt: $(cat "$dir/share/units.txt")"
for n in 1 2 3 4; do printf '%s,0,4,%s,%s,KESTREL DVD-RW KR-2040\r\n' $n $n "$(printf "\\x$((44 + n))")"; done \
  | cmp - "$dir/share/recorders.txt" || fail "recorders.txt: $(cat -A "$dir/share/recorders.txt")"
[ -f "$dir/share/trays.txt" ] && [ ! -s "$dir/share/trays.txt" ] || fail "trays.txt is not there and empty"
[ -f "$dir/share/faults.txt" ] && [ ! -s "$dir/share/faults.txt" ] || fail "faults.txt is not there and empty"

talk "$dir/tty" _SV version || fail "_SV"
talk "$dir/tty" _SI frame || fail "_SI"
wait_for "$dir/out.txt" '^    [0-9]+ _SV$' || fail "_SV not printed: $(cat "$dir/out.txt")"
grep -q '_SI' "$dir/out.txt" && fail "_SI printed"

# A line counts once its LF has come.
printf '1 open\n2 clo' >> "$dir/share/trays.txt"
wait_for "$dir/out.txt" '^    [0-9]+ tray 1 open$' || fail "tray 1 not opened: $(cat "$dir/out.txt")"
grep -q 'tray 2' "$dir/out.txt" && fail "a line without its LF was acted on"
printf 'se\n9 open\n' >> "$dir/share/trays.txt"
wait_for "$dir/out.txt" '^    [0-9]+ tray 9 refused: no such unit$' || fail "unit 9: $(cat "$dir/out.txt")"
grep -qE '^    [0-9]+ tray 2 close$' "$dir/out.txt" || fail "tray 2 not closed: $(cat "$dir/out.txt")"

# The port opened again: the robot is still there.
talk "$dir/tty" _MOVE:4 || fail "_MOVE:4"
wait_for "$dir/out.txt" '^    [0-9]+ _MOVE:4$' || fail "_MOVE:4 not printed: $(cat "$dir/out.txt")"

kill -TERM "$pid"
rc=0
wait "$pid" || rc=$?
pid=""
[ "$rc" = 0 ] || fail "SIGTERM: exit $rc: $(cat "$dir/err.txt")"
[ "$(grep '^place' "$dir/out.txt")" = "$(printf 'place 1 25\nplace 2 25\nplace 4 25\nplace 5 25')" ] \
  || fail "places: $(cat "$dir/out.txt")"
[ ! -e "$dir/tty" ] && [ ! -L "$dir/tty" ] || fail "the link is still there"

# --seconds ends the run by itself; without --share no file is written.
mkdir "$dir/quiet"
"$tool" serve --pty "$dir/quiet/tty" --seconds 1 --drives 2 > "$dir/quiet.txt" 2> "$dir/quiet.err" \
  || fail "--seconds: exit $?: $(cat "$dir/quiet.err")"
[ "$(grep -c '^place' "$dir/quiet.txt")" = 4 ] || fail "--seconds: $(cat "$dir/quiet.txt")"
[ -z "$(ls -A "$dir/quiet")" ] || fail "--seconds left files: $(ls -A "$dir/quiet")"

# The printers: serve lists the world's spooler printers, hands a raw document that lands in docs/
# to the printer on its port (a laminator command is printed by its name, any other document by
# its printer, size and hash), and answers the printer-data requests from the world's devices
# ("pass" for a printer without a driver of the world, a refusal for a document on a port of no
# printer).
"$tool" serve --pty "$dir/ptty" --share "$dir/pshare" --printer "Pellan IV" --laminator --lam-firmware "LAM 9.99" \
  > "$dir/pout.txt" 2> "$dir/perr.txt" &
pid=$!
wait_for "$dir/pshare/units.txt" end || fail "printers: serve did not start: $(cat "$dir/perr.txt")"
grep -qP '^Pellan IV\tLPT1:\tPellan IV Driver\t64$' "$dir/pshare/printers.txt" || fail "printers.txt: $(cat -A "$dir/pshare/printers.txt")"
grep -qP '^Disc Laminator\tUSB002\t' "$dir/pshare/printers.txt" || fail "printers.txt: $(cat -A "$dir/pshare/printers.txt")"
[ "$(tail -1 "$dir/pshare/printers.txt")" = end ] || fail "printers.txt has no end"
printf '\x1b\x04\x80\x00\x00\x00\x00\x9f' > "$dir/pshare/docs/.part" && mv "$dir/pshare/docs/.part" "$dir/pshare/docs/100-7-USB002"
printf 'PRINTFILE' > "$dir/pshare/docs/.part" && mv "$dir/pshare/docs/.part" "$dir/pshare/docs/200-7-LPT1:"
printf 'x' > "$dir/pshare/docs/.part" && mv "$dir/pshare/docs/.part" "$dir/pshare/docs/300-7-LPT9:"
wait_for "$dir/pout.txt" '^    [0-9]+ lam TRAYIN$' || fail "laminator command: $(cat "$dir/pout.txt")"
# FNV-1a of "PRINTFILE".
hash="$(python3 -c 'h=2166136261
for b in b"PRINTFILE": h=((h^b)*16777619)&0xffffffff
print("%08x"%h)')"
wait_for "$dir/pout.txt" "^    [0-9]+ doc \"Pellan IV\" 9 bytes $hash\$" || fail "print document: $(cat "$dir/pout.txt")"
wait_for "$dir/pout.txt" '^    [0-9]+ doc "300-7-LPT9:" refused: no printer of the world on port "LPT9:"$' || fail "LPT9: $(cat "$dir/pout.txt")"
[ -z "$(ls "$dir/pshare/docs")" ] || fail "documents left: $(ls "$dir/pshare/docs")"
ask() {  # NAME TEXT: the answer to a printer-data request
  printf "$2" > "$dir/pshare/.req" && mv "$dir/pshare/.req" "$dir/pshare/$1.req"
  wait_for "$dir/pshare/$1.ans" . || fail "no answer to $1"
  cat "$dir/pshare/$1.ans"
}
[ "$(ask pd-1-1 'set\nDisc Laminator\nMARLUNE\n3\n00\n')" = 0 ] || fail "set: $(cat "$dir/pshare/pd-1-1.ans")"
answer="$(ask pd-1-2 'get\nDisc Laminator\nMARLUNE\n')"
# An 80-byte status record: 01, its length, the firmware text at offset 9, the last command (tray in) at 27, 04 at the end.
[[ "$answer" =~ ^0\ 3\ ([0-9a-f]{160})$ ]] || fail "get: '$answer'"
record="${BASH_REMATCH[1]}"
[ "${record:0:2}" = 01 ] && [ "${record:158:2}" = 04 ] && [ "${record:54:2}" = 80 ] || fail "record: $record"
[ "$(printf '%s' "${record:18:16}" | xxd -r -p)" = "LAM 9.99" ] || fail "firmware in the record: $record"
[ "$(ask pd-1-3 'get\nKestrel Office Laser 4200\nMARLUNE\n')" = pass ] || fail "office printer: $(cat "$dir/pshare/pd-1-3.ans")"
[ "$(ask pd-1-4 'get\nNo Such Printer\nMARLUNE\n')" = pass ] || fail "unknown printer"
kill -TERM "$pid"
wait "$pid" || fail "printers: exit $?: $(cat "$dir/perr.txt")"
pid=""

# The faults the engine's stand-in libraries play themselves are written for them.
"$tool" serve --pty "$dir/quiet/tty2" --seconds 1 --share "$dir/faulty" --tray-fail 2 --robot-error-on F@pick:1 \
  > /dev/null 2> "$dir/faulty.err" || fail "--tray-fail: exit $?: $(cat "$dir/faulty.err")"
[ "$(cat "$dir/faulty/faults.txt")" = "tray-fail 2" ] || fail "faults.txt: $(cat "$dir/faulty/faults.txt")"
"$tool" serve --pty "$dir/quiet/tty2" --seconds 1 --robot-error-on C@pick:1 > /dev/null 2>&1 && fail "C@pick:1 accepted"

"$tool" serve --seconds 1 > /dev/null 2>&1 && fail "no --pty accepted"
echo "serve checks passed"
