#!/usr/bin/env python3
"""The world's transcripts, held still.

tests/hashes/transcripts.txt keeps the transcript hash of 200 `rovane-sim run` command lines: the
replay commands of swarm seeds 100000..100199 (jobs with robot errors, mispicks, line noise,
printing, laminating, aborts). A change that is meant to leave behaviour alone must leave every
hash as it was: a change of order is a change of behaviour.

  scripts/transcript-hashes.py ROVANE_SIM            check every line; exit 1 on a difference
  scripts/transcript-hashes.py ROVANE_SIM --update   draw the 200 commands afresh from the swarm
                                                     and write their hashes (only where a change
                                                     of the transcripts is meant)
"""
import concurrent.futures
import json
import os
import shlex
import subprocess
import sys

FIRST_SEED, RUNS = 100000, 200
LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "hashes", "transcripts.txt")


def transcript_hash(tool, command):
    """The transcript hash of one `rovane-sim run ...` line (its exit code only tells how the job
    ended: an aborted job exits 2)."""
    args = shlex.split(command)
    if args[:2] != ["rovane-sim", "run"]:
        return f"not a run command: {command}"
    out = subprocess.run([tool, "run", *args[2:], "--json"], capture_output=True, text=True).stdout
    try:
        return json.loads(out)["transcript_hash"]
    except (ValueError, KeyError):
        return "no transcript (the run printed no summary)"


def main():
    if len(sys.argv) not in (2, 3) or (len(sys.argv) == 3 and sys.argv[2] != "--update"):
        sys.exit(__doc__)
    tool = sys.argv[1]
    if len(sys.argv) == 3:
        swarm = subprocess.run([tool, "swarm", "--runs", str(RUNS), "--seed", str(FIRST_SEED), "--json"],
                               capture_output=True, text=True).stdout
        commands = [r["replay"] for r in json.loads(swarm)["results"]]
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            hashes = list(pool.map(lambda c: transcript_hash(tool, c), commands))
        bad = [c for c, h in zip(commands, hashes) if len(h) != 16]
        if bad:
            sys.exit(f"transcript-hashes: no hash for: {bad[0]}")
        with open(LIST, "w") as f:
            f.write("# transcript hash, then the run command that gives it (scripts/transcript-hashes.py)\n")
            f.writelines(f"{h} {c}\n" for h, c in zip(hashes, commands))
        print(f"transcript-hashes: wrote {len(commands)} hashes to tests/hashes/transcripts.txt")
        return
    with open(LIST) as f:
        pairs = [line.rstrip("\n").split(" ", 1) for line in f if line.strip() and not line.startswith("#")]
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        got = list(pool.map(lambda p: transcript_hash(tool, p[1]), pairs))
    differ = [(p, g) for p, g in zip(pairs, got) if g != p[0]]
    for (want, command), g in differ:
        print(f"transcript-hashes: DIFFERS: {command}: {g}, was {want}")
    print(f"transcript-hashes: {len(pairs)} runs, {len(differ)} with another transcript")
    sys.exit(1 if differ or not pairs else 0)


if __name__ == "__main__":
    main()
