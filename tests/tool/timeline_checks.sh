#!/usr/bin/env bash
# rovane-sim run --timeline and rovane-log, end to end: a 20-disc job's page draws one journey per
# disc, its lanes, and the run's own figures; a job with mispicks, rejects and the operator's
# answers shows its errors, messages and answers as marks, and an aborted one its ABORT Job; a log
# cut at an arbitrary byte (the module restarts its log at 700,000 bytes) still renders and counts
# the discs it sees finish; stats --json gives the job's and the whole log's figures; exit codes,
# what a usage error says, the page never written over a log, clock jumps named and not counted,
# random bytes and markup in a log's text.
set -euo pipefail
sim="$1"
logtool="$2"
fail() { echo "FAILED: $*"; exit 1; }
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
# One value of pretty-printed JSON: field NAME JSON (the first one).
field() { sed -n "s/^ *\"$1\": \"\\{0,1\\}\\([^\",]*\\)\"\\{0,1\\},\\{0,1\\}$/\\1/p" <<<"$2" | head -1; }
# A figure of the page's summary table: figure NAME PAGE [SEGMENT] (default: the whole log's row).
figure() {
  grep -o "<tr[^>]*data-segment=\"${3:-all}\">.*</tr>" "$2" | grep -o "data-figure=\"$1\"[^>]*>[0-9.]*" | sed 's/.*>//'
}
journeys() { grep -o '<path class="journey[^"]*" data-disc="[0-9]*"' "$1" | grep -v carried | sort -u | wc -l; }
marks() { grep -o "<g class=\"mark $1[^\"]*\" data-code=\"$2\"" "$3" | wc -l; }
# The whole log's figures of stats --json: lifetime NAME JSON.
lifetime() { field "$1" "$(sed -n '/"lifetime"/,$p' <<<"$2")"; }

# A 20-disc job: 20 journeys from input bin 4 through the four recorders to output bin 3; the
# page's figures are the run's.
"$sim" run --discs 20 --seed 1 --json --timeline "$dir/a.html" --module-log "$dir/a.dbg" > "$dir/a.json" 2> "$dir/a.err" \
  || fail "20 discs: exit $? $(cat "$dir/a.err")"
a="$(cat "$dir/a.json")"
[ "$(journeys "$dir/a.html")" = 20 ] || fail "20 discs: $(journeys "$dir/a.html") journeys drawn"
for place in in:4 picker rec:A rec:B rec:C rec:D out:3; do
  grep -q "<g class=\"lane\" data-place=\"$place\">" "$dir/a.html" || fail "20 discs: no lane $place"
done
[ "$(figure discs "$dir/a.html")" = 20 ] && [ "$(figure good "$dir/a.html")" = "$(field in_output_bins "$a")" ] \
  && [ "$(figure rejected "$dir/a.html")" = 0 ] && [ "$(figure in-machine "$dir/a.html" 1)" = 0 ] \
  || fail "20 discs: the page's figures are not the run's: $(grep -o '<tr[^>]*data-segment="all">.*</tr>' "$dir/a.html")"
# Discs per hour from the log's stamps agree with the run's virtual clock to within 2 %.
awk -v p="$(figure discs-per-hour "$dir/a.html")" -v r="$(field discs_per_hour "$a")" \
  'BEGIN { exit !(r > 0 && (p - r) / r < 0.02 && (r - p) / r < 0.02) }' \
  || fail "20 discs: $(figure discs-per-hour "$dir/a.html") discs per hour on the page, $(field discs_per_hour "$a") in the run"
s="$("$logtool" stats "$dir/a.dbg" --json)" || fail "stats: exit $?"
[ "$(lifetime good "$s")" = 20 ] && [ "$(lifetime rejected "$s")" = 0 ] && [ "$(lifetime jobs "$s")" = 1 ] \
  && [ "$(field discs_asked "$s")" = 20 ] && [ "$(field unparseable "$s")" = 0 ] || fail "stats --json: $s"
"$logtool" timeline "$dir/a.dbg" -o "$dir/b.html" 2> /dev/null || fail "timeline of the copied log: exit $?"
[ "$(journeys "$dir/b.html")" = 20 ] || fail "rovane-log draws $(journeys "$dir/b.html") journeys, run 20"

# Mispicks on a noisy line and failed recordings: each mispick the operator clears is an error,
# a message and an answer; the rejected discs end on G, as the run counts them.
"$sim" run --discs 20 --seed 3 --mispick 0.05 --noise 0.05 --fail-rate 0.2 --json --timeline "$dir/f.html" \
  --module-log "$dir/f.dbg" > "$dir/f.json" 2> "$dir/f.err" || fail "faults: exit $? $(cat "$dir/f.err")"
f="$(cat "$dir/f.json")"
[ "$(figure good "$dir/f.html")" = "$(field in_output_bins "$f")" ] && [ "$(figure rejected "$dir/f.html")" = "$(field G "$f")" ] \
  && [ "$(field G "$f")" -gt 0 ] && [ "$(journeys "$dir/f.html")" = 20 ] || fail "faults: figures: $f"
n="$(marks error NOT_PICKED "$dir/f.html")"
[ "$n" -gt 1 ] && [ "$(marks message NOT_PICKED "$dir/f.html")" -ge 1 ] && [ "$(marks answer CLEARED "$dir/f.html")" -ge 1 ] \
  && [ "$(marks message NOT_PICKED "$dir/f.html")" = "$(marks answer CLEARED "$dir/f.html")" ] \
  || fail "faults: marks: $n errors, $(marks message NOT_PICKED "$dir/f.html") messages, $(marks answer CLEARED "$dir/f.html") answers"
# The operator answers ABORT Job: the discs left in the recorders are still in the machine.
"$sim" run --discs 20 --seed 5 --mispick 0.1 --answer 'not picked=ABORTJOB' --json --timeline "$dir/ab.html" \
  > "$dir/ab.json" 2> /dev/null && fail "abort: exit 0"
[ "$(marks answer ABORT_JOB "$dir/ab.html")" = 1 ] && grep -q ', aborted</h2>' "$dir/ab.html" \
  && [ "$(figure in-machine "$dir/ab.html")" = "$(field left_in_machine "$(cat "$dir/ab.json")")" ] \
  || fail "abort: no ABORT Job answer, or the discs left are not in the machine"

# The log cut at an arbitrary byte: its first line is cut off and skipped; discs already in the
# machine are drawn from the start; the discs it sees put down on bin 3 or G are its good and
# rejected ones.
size="$(stat -c %s "$dir/f.dbg")"
tail -c +$((size * 2 / 5)) "$dir/f.dbg" > "$dir/tail.dbg"
s="$("$logtool" stats "$dir/tail.dbg" --json)" || fail "cut log: stats exit $?"
counted="$(awk '/Disc DROPPED OFF successfully/ { getline; if (/bCurrentPosition=3/) g++; if (/bCurrentPosition=G/) r++ }
  END { print g + 0, r + 0 }' "$dir/tail.dbg")"
[ "$(lifetime good "$s") $(lifetime rejected "$s")" = "$counted" ] && [ "$(field unparseable "$s")" = 1 ] \
  && [ "$(field starts_mid_job "$s")" = true ] || fail "cut log: figures (good rejected: $counted): $s"
"$logtool" timeline "$dir/tail.dbg" -o "$dir/tail.html" 2> /dev/null || fail "cut log: timeline exit $?"
[ "$(journeys "$dir/tail.html")" = "$(lifetime discs "$s")" ] && grep -q 'id="starts-mid-job"' "$dir/tail.html" \
  && grep -q 'class="journey[^"]*from-before' "$dir/tail.html" || fail "cut log: the page"
head -c $((size * 3 / 5)) "$dir/f.dbg" > "$dir/head.dbg"
s="$("$logtool" stats "$dir/head.dbg" --json)" || fail "log cut at its end: stats exit $?"
[ "$(field truncated "$s")" = 1 ] && [ "$(lifetime in_machine "$s")" -gt 0 ] || fail "log cut at its end: $s"

# Exit codes: usage 1, a log that cannot be read 2.
code() { set +e; "$@" > /dev/null 2>&1; echo $?; set -e; }
# What went wrong, on stderr, with exit 1: said/expect EXIT TEXT COMMAND...
said() {
  local want="$1" text="$2" rc
  shift 2
  set +e; "$@" > /dev/null 2> "$dir/said"; rc=$?; set -e
  [ "$rc" = "$want" ] && grep -qF -- "$text" "$dir/said" || fail "$* exits $rc (want $want) and says: $(cat "$dir/said")"
}
said 1 "unknown command 'foo'; commands: timeline, stats" "$logtool" foo "$dir/a.dbg"
said 1 "unknown option '--bar'; a command comes first" "$logtool" --bar
said 1 "rovane-log stats: unknown option '--bar'" "$logtool" stats --bar "$dir/a.dbg"
said 1 "rovane-log timeline: unknown option '-x'" "$logtool" timeline "$dir/a.dbg" -x -o "$dir/x.html"
said 1 "unexpected argument 'more.dbg'" "$logtool" stats "$dir/a.dbg" more.dbg
said 1 "-o is given 2 times" "$logtool" timeline "$dir/a.dbg" -o "$dir/x.html" -o "$dir/y.html"
# The page is never written over its log (by the same path, another path, a link either way, a
# hard link) nor over another log; the log stays as it was.
cp "$dir/a.dbg" "$dir/keep.dbg"
ln -s a.dbg "$dir/soft.dbg"
ln "$dir/a.dbg" "$dir/hard.dbg"
for pair in "a.dbg a.dbg" "a.dbg ./a.dbg" "soft.dbg a.dbg" "a.dbg soft.dbg" "a.dbg hard.dbg"; do
  set -- $pair
  said 1 "would be written over the log it is made from" "$logtool" timeline "$dir/$1" -o "$dir/$2"
done
said 1 "holds a module log: the page is not written over it" "$logtool" timeline "$dir/a.dbg" -o "$dir/f.dbg"
cmp -s "$dir/a.dbg" "$dir/keep.dbg" || fail "the log was written over"
# A clock set back by an hour and a line an hour out of order: each named on stderr, and the
# job's duration is the log's own.
awk 'NR == 700 || NR >= 900 { h = substr($0, 7, 2) - 1; $0 = substr($0, 1, 6) sprintf("%02d", h) substr($0, 9) } { print }'   "$dir/a.dbg" > "$dir/jump.dbg"
s="$("$logtool" stats "$dir/jump.dbg" --json 2> "$dir/jump.err")" || fail "clock jumps: stats exit $?"
grep -q "line 700 is out of order, 1:00:00 earlier than line 699" "$dir/jump.err" \
  && grep -q "the clock goes back 1:00:00 at line 900 (from line 899)" "$dir/jump.err" \
  && [ "$(field clock_jumps "$s")" = 2 ] || fail "clock jumps: $(cat "$dir/jump.err")"
[ "$(field duration_s "$s")" = "$(field duration_s "$("$logtool" stats "$dir/a.dbg" --json)")" ] \
  || fail "clock jumps change the duration: $(field duration_s "$s") s"
# Random bytes are no log; a log's text with markup is shown as text.
head -c 200000 /dev/urandom > "$dir/random.bin"
said 2 "holds no line of the module's log" "$logtool" stats "$dir/random.bin"
{ head -n 100 "$dir/a.dbg"; printf '03/02 08:00:04:000  ERROR: <script>alert("x")</script> & more\r\n'; } > "$dir/markup.dbg"
"$logtool" timeline "$dir/markup.dbg" -o "$dir/markup.html" 2> /dev/null || fail "markup: exit $?"
! grep -q "<script" "$dir/markup.html" && grep -q '&lt;script&gt;alert(&quot;x&quot;)' "$dir/markup.html" \
  || fail "markup in the log's text reaches the page"
[ "$(code "$logtool")" = 1 ] && [ "$(code "$logtool" timeline "$dir/a.dbg")" = 1 ] && [ "$(code "$logtool" stats)" = 1 ] \
  || fail "usage errors do not exit 1"
[ "$(code "$logtool" stats "$dir/none.dbg")" = 2 ] && [ "$(code "$logtool" stats "$dir/a.json")" = 2 ] \
  && [ "$(code "$logtool" timeline "$dir/a.dbg" -o "$dir/no/such/dir.html")" = 2 ] || fail "unreadable logs do not exit 2"
[ "$(code "$sim" run --discs 1 --timeline "$dir/no/such/dir.html")" = 1 ] || fail "run --timeline into no folder: not 1"
echo "timeline checks passed"
