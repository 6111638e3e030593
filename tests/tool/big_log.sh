#!/usr/bin/env bash
# Makes a module log of any size out of real ones, for reading big logs:
#   tests/tool/big_log.sh OUT MEGABYTES LOG...
# writes to OUT copies of the LOGs in turn (each a module session: start-up, jobs, end) until OUT
# holds at least MEGABYTES MB, each copy one day after the one before it (its stamps moved on by
# whole days; lines without a stamp copied as they are), so that the clock runs on across the
# copies and across New Year. Prints the number of copies of each LOG, in order, on stdout.
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: $0 OUT MEGABYTES LOG..." >&2; exit 1; }
out="$1"
megabytes="$2"
shift 2
LC_ALL=C awk -v target="$((megabytes * 1048576))" -v out="$out" '
BEGIN {
  split("31 29 31 30 31 30 31 31 30 31 30 31", days_in, " ")
  n = 0
  for (m = 1; m <= 12; ++m)
    for (d = 1; d <= days_in[m]; ++d) { mmdd[n] = sprintf("%02d/%02d", m, d); day_of[mmdd[n]] = n; ++n }
  sources = 0
}
FNR == 1 { ++sources; count[sources] = 0 }
{
  i = ++count[sources]
  text[sources, i] = $0
  # The day of the year of a stamped line, or -1.
  stamp = substr($0, 1, 5)
  day[sources, i] = ($0 ~ /^[0-9][0-9]\/[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]:[0-9][0-9][0-9]  / && (stamp in day_of)) ? day_of[stamp] : -1
  size[sources] += length($0) + 1
}
END {
  written = 0
  for (k = 0; written < target; ++k) {
    s = k % sources + 1
    ++copies[s]
    for (i = 1; i <= count[s]; ++i) {
      d = day[s, i]
      if (d < 0) print text[s, i] > out
      else print mmdd[(d + k) % 366] substr(text[s, i], 6) > out
    }
    written += size[s]
  }
  line = ""
  for (s = 1; s <= sources; ++s) line = line (s > 1 ? " " : "") copies[s]
  print line
}' "$@"
