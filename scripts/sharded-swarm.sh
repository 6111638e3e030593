#!/usr/bin/env bash
# A swarm campaign spread over shards by GNU parallel, merged into one summary.
#
#   scripts/sharded-swarm.sh ROVANE_SIM RUNS SHARDS [FIRST_SEED] [--compare] [--keep DIR]
#
# Runs `rovane-sim swarm --runs RUNS --seed FIRST_SEED --shard K/SHARDS --json` for K = 1..SHARDS
# under GNU parallel (two shards at a time here; over several hosts, give parallel its
# --sshlogin list the usual way and the same rovane-sim on each), then `rovane-sim swarm merge`
# of their outputs: one summary, every failing seed with its replay command. Exit: merge's own
# (0 when no run failed, 4 when some did, 3 when a shard's seeds are missing), 2 when a shard
# could not be run at all.
#
# --compare also runs the whole campaign as one swarm and checks that the merged summary counts
# exactly what the one run counts (every line, the summary line by its counts: it names the files
# and the wall time), and names the same failing seeds; exit 5 when they differ. --keep DIR keeps the shards' JSON and both summaries in DIR.
set -u
if [ $# -lt 3 ]; then
  sed -n '2,/^set -u/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
tool=$1 runs=$2 shards=$3
shift 3
first=1 compare=0 keep=
while [ $# -gt 0 ]; do
  case $1 in
    --compare) compare=1 ;;
    --keep) keep=$2; shift ;;
    *) first=$1 ;;
  esac
  shift
done
command -v parallel > /dev/null || { echo "sharded-swarm: GNU parallel is not installed (Debian: apt-get install parallel)" >&2; exit 2; }

dir=${keep:-$(mktemp -d)}
mkdir -p "$dir"
[ -n "$keep" ] || trap 'rm -rf "$dir"' EXIT

start=$(date +%s.%N)
# A shard's swarm exits 4 when some of its runs failed: a finding, which the merge reports, not a
# shard that did not run.
seq 1 "$shards" | parallel --will-cite --jobs 2 \
  "'$tool' swarm --runs $runs --seed $first --shard {}/$shards --json > '$dir'/shard{}.json; rc=\$?; [ \$rc = 0 ] || [ \$rc = 4 ]" \
  || { echo "sharded-swarm: $? shard(s) did not finish" >&2; exit 2; }
files=()
for k in $(seq 1 "$shards"); do files+=("$dir/shard$k.json"); done
"$tool" swarm merge "${files[@]}" > "$dir/merged.txt"
merged_rc=$?
end=$(date +%s.%N)
cat "$dir/merged.txt"
awk -v r="$runs" -v k="$shards" -v a="$start" -v b="$end" \
  'BEGIN { printf "sharded-swarm: %d runs in %d shards (GNU parallel, two at a time): %.1f s, %d runs a minute\n", r, k, b - a, r * 60 / (b - a) }'

if [ "$compare" = 1 ]; then
  start=$(date +%s.%N)
  "$tool" swarm --runs "$runs" --seed "$first" > "$dir/whole.txt"
  end=$(date +%s.%N)
  awk -v r="$runs" -v a="$start" -v b="$end" \
    'BEGIN { printf "sharded-swarm: the same %d runs as one swarm: %.1f s, %d runs a minute\n", r, b - a, r * 60 / (b - a) }'
  # One swarm prints each failing run as it comes in, the merge after its summary line; each
  # summary line names its own files and wall time. So the lines are compared as sets, the
  # summary line by its counts (what follows "): ").
  counts() { sed 's/^swarm: .*): /swarm: /' "$1" | sort; }
  if ! diff <(counts "$dir/whole.txt") <(counts "$dir/merged.txt") > "$dir/diff.txt"; then
    echo "sharded-swarm: the merged summary differs from the one run's:" >&2
    cat "$dir/diff.txt" >&2
    exit 5
  fi
  echo "sharded-swarm: the merged summary counts what the one run counts, line for line ($(wc -l < "$dir/whole.txt") lines)"
fi
exit $merged_rc
