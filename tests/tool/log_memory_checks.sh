#!/usr/bin/env bash
# rovane-log reads a log of any size in the same memory: stats of an 80 MB log made of real jobs
# (big_log.sh: a run's log and an aborted run's log, copied day after day) keeps its peak resident
# set under a fixed bound and within 4 MB of what it takes for one job's log, and still counts
# every job and disc of every copy; timeline refuses a log above its size, saying what to do.
#   log_memory_checks.sh ROVANE-SIM ROVANE-LOG [sanitized]
# A sanitized build (AddressSanitizer keeps freed memory aside) checks the counts, not the bound.
set -euo pipefail
sim="$1"
logtool="$2"
sanitized="${3:-}"
here="$(cd "$(dirname "$0")" && pwd)"
fail() { echo "FAILED: $*"; exit 1; }
[ -x /usr/bin/time ] || fail "/usr/bin/time is missing: install Debian's 'time' (scripts/install-deps.sh)"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
# One value of pretty-printed JSON: field NAME JSON (the first one).
field() { sed -n "s/^ *\"$1\": \"\\{0,1\\}\\([^\",]*\\)\"\\{0,1\\},\\{0,1\\}$/\\1/p" <<<"$2" | head -1; }
lifetime() { field "$1" "$(sed -n '/"lifetime"/,$p' <<<"$2")"; }

"$sim" run --discs 20 --seed 3 --mispick 0.05 --fail-rate 0.2 --module-log "$dir/f.dbg" > /dev/null 2>&1 \
  || fail "the run that makes the first log: exit $?"
set +e
"$sim" run --discs 10 --seed 11 --abort-at 300 --module-log "$dir/ab.dbg" > /dev/null 2>&1
set -e
[ -s "$dir/ab.dbg" ] || fail "the aborted run wrote no log"
read -r copies_f copies_ab < <(bash "$here/big_log.sh" "$dir/big.dbg" 80 "$dir/f.dbg" "$dir/ab.dbg")
[ "$(stat -c %s "$dir/big.dbg")" -ge $((80 * 1048576)) ] || fail "big_log.sh wrote $(stat -c %s "$dir/big.dbg") bytes"

# Peak memory (KB) of stats on one job's log and on the big one.
rss() { /usr/bin/time -f %M -o "$dir/rss" "$logtool" stats --json "$1" > "$dir/out.json" 2> "$dir/err"; cat "$dir/rss"; }
small="$(rss "$dir/f.dbg")" || fail "stats of one job's log: exit $? $(cat "$dir/err")"
f="$(cat "$dir/out.json")"
ab="$("$logtool" stats --json "$dir/ab.dbg")" || fail "stats of the aborted run's log: exit $?"
big="$(rss "$dir/big.dbg")" || fail "stats of the 80 MB log: exit $? $(cat "$dir/err")"
s="$(cat "$dir/out.json")"
echo "stats: peak resident set ${small} KB for one job's log, ${big} KB for the 80 MB log"
if [ "$sanitized" != sanitized ]; then
  [ "$big" -lt 16384 ] || fail "stats of the 80 MB log took ${big} KB (bound 16384 KB)"
  [ "$big" -lt $((small + 4096)) ] || fail "stats took ${small} KB for one job's log and ${big} KB for the 80 MB log"
fi

# Every copy counted: jobs, discs and good discs are the copies' sums; one row a job.
for name in jobs discs good; do
  want=$((copies_f * $(lifetime "$name" "$f") + copies_ab * $(lifetime "$name" "$ab")))
  [ "$(lifetime "$name" "$s")" = "$want" ] || fail "the 80 MB log: $(lifetime "$name" "$s") $name, want $want"
done
[ "$(grep -c '^      "title": "job ' <<<"$s")" = "$(lifetime jobs "$s")" ] || fail "the 80 MB log: job rows"
[ "$(field unparseable "$s")" = 0 ] && [ "$(field clock_jumps "$s")" = 0 ] || fail "the 80 MB log: $(sed -n '/"log"/,/}/p' <<<"$s")"

# timeline draws a log up to 64 MB and says what to do with a bigger one.
set +e
"$logtool" timeline "$dir/big.dbg" -o "$dir/big.html" > /dev/null 2> "$dir/err"
rc=$?
set -e
[ "$rc" = 2 ] && grep -q "up to 64 MB" "$dir/err" && grep -q "rovane-log stats" "$dir/err" && [ ! -e "$dir/big.html" ] \
  || fail "timeline of the 80 MB log: exit $rc, $(cat "$dir/err")"
echo "log memory checks passed"
