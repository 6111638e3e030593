#!/usr/bin/env bash
# How many swarm-drawn jobs `rovane-log replay` runs again faithfully.
#
#   scripts/replay-swarm.sh [N [FIRST_SEED [BUILD_DIR]]]     (defaults: 100 500001 build/sim)
#
# Draws N jobs with `rovane-sim swarm`, runs each one's `replay` command line again with
# --module-log to keep its module log, replays that log with `rovane-log replay --json`, and
# prints: how many logs reproduce every robot command in the same order (and the others grouped by
# the cause of their first divergence), how many reproduce the whole compared log, and the rest
# grouped by what the replay names as the cause of its first divergence ("cause", else "reason"). KEEP=DIR keeps the logs and replay reports there.
set -euo pipefail
n=${1:-100}
first=${2:-500001}
build=${3:-build/sim}
sim="$build/bin/rovane-sim"
log="$build/bin/rovane-log"
work=${KEEP:-$(mktemp -d)}
mkdir -p "$work"
"$sim" swarm --runs "$n" --seed "$first" --json > "$work/swarm.json"
python3 - "$work" "$sim" "$log" <<'PY'
import collections, json, os, shlex, subprocess, sys, time
work, sim, log = sys.argv[1:4]
runs = json.load(open(os.path.join(work, "swarm.json")))["results"]
same = whole = 0
reasons = collections.Counter()
examples = {}
order_reasons = collections.Counter()   # the runs whose robot commands differ, by first divergence
order_examples = {}
slowest = (0.0, None)
for r in runs:
    seed = r["seed"]
    words = shlex.split(r["replay"])
    mlog = os.path.join(work, f"{seed}.log")
    subprocess.run([sim] + words[1:] + ["--module-log", mlog],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    t0 = time.time()
    p = subprocess.run([log, "replay", mlog, "--json"], capture_output=True, text=True)
    took = time.time() - t0
    if took > slowest[0]:
        slowest = (took, seed)
    try:
        rep = json.loads(p.stdout)
    except ValueError:
        rep = {"refused": (p.stderr.strip().splitlines() or ["no report"])[-1]}
    json.dump(rep, open(os.path.join(work, f"{seed}.json"), "w"), indent=1)
    if rep.get("robot_same_order"):
        same += 1
    elif "refused" not in rep:
        d = rep.get("divergence") or {}
        order_reasons[d.get("cause") or d.get("reason", "?")] += 1
        order_examples.setdefault(d.get("cause") or d.get("reason", "?"), seed)
    else:
        order_reasons["replay refused: " + rep["refused"]] += 1
        order_examples.setdefault("replay refused: " + rep["refused"], seed)
    div = rep.get("divergence")
    if "refused" in rep:
        why = "replay refused: " + rep["refused"]
    elif div:
        why = div.get("cause") or div.get("reason", "?")
    else:
        whole += 1
        continue
    reasons[why] += 1
    examples.setdefault(why, seed)
print(f"logs: {len(runs)} (seeds {runs[0]['seed']}..{runs[-1]['seed']})")
print(f"every robot command in the same order: {same}")
print(f"whole compared log reproduced: {whole}")
print(f"slowest replay: {slowest[0]:.2f} s (seed {slowest[1]})")
print("robot commands not all in the same order, by the first divergence's cause:")
for why, c in order_reasons.most_common():
    print(f"  {c:4d}  {why}   (e.g. seed {order_examples[why]})")
print("first divergences of the logs not reproduced whole:")
for why, c in reasons.most_common():
    print(f"  {c:4d}  {why}   (e.g. seed {examples[why]})")
print(f"logs and reports: {work}")
PY
