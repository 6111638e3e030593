#!/usr/bin/env bash
# The README's examples (or another document's), word for word: every indented block that starts with a
# command (build/..., bash ..., cat ...) is an example, and the HTML comment after it
#   <!-- check: exit 0; prints "TEXT"; file NAME -->
# says what running it must give: its exit status, texts its output (stdout and stderr) holds,
# files it leaves. The blocks run in order, in one scratch folder laid out like the project's
# (build/sim is the build under test, scripts/ and tests/ are the project's), so one example may
# read what an earlier one wrote. "<!-- check: run by ... -->" names where an example too long for
# this check runs instead (scripts/test.sh, .ci/run). An example without a check fails.
#   readme_checks.sh ROVANE_SIM [README]
set -euo pipefail
tool="$1"
repo="$(cd "$(dirname "$0")/../.." && pwd)"
readme="${2:-$repo/README.md}"
build="$(cd "$(dirname "$tool")/.." && pwd)"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir/build"
ln -s "$build" "$dir/build/sim"
ln -s "$repo/scripts" "$dir/scripts"
ln -s "$repo/tests" "$dir/tests"

python3 - "$readme" "$dir" <<'PY'
import os, re, subprocess, sys

readme, work = sys.argv[1], sys.argv[2]
name = os.path.basename(readme)  # "README.md", "log-guide.md": where a failure is
lines = open(readme, encoding="utf-8").read().split("\n")
COMMAND = re.compile(r"^(build/|bash |cat )")
CHECK = re.compile(r"^<!-- check: (.*) -->$")

examples = []          # [line number, text, check or None]
block, block_at = [], 0
def close_block():
    global block
    if block and COMMAND.match(block[0]):
        examples.append([block_at, "\n".join(block) + "\n", None])
    block = []
for n, line in enumerate(lines, 1):
    if line.startswith("    "):
        if not block:
            block_at = n
        block.append(line[4:])
        continue
    if line.strip() == "" and block and block[-1] != "":
        close_block()
        continue
    close_block()
    m = CHECK.match(line)
    if m:
        if not examples or examples[-1][2] is not None:
            sys.exit(f"{name} line {n}: a check with no example before it")
        examples[-1][2] = m.group(1)
close_block()

failures = 0
ran = skipped = 0
for at, text, check in examples:
    where = f"{name} line {at} ({text.splitlines()[0]})"
    if check is None:
        print(f"FAILED: {where}: the example has no <!-- check: ... --> after it")
        failures += 1
        continue
    if check.startswith("run by ") or check.startswith("this is "):
        skipped += 1
        continue
    want_exit, prints, files = 0, [], []
    for item in re.findall(r'(?:[^;"]|"(?:[^"\\]|\\.)*")+', check):
        item = item.strip()
        if item.startswith("exit "):
            want_exit = int(item[5:])
        elif item.startswith('prints "') and item.endswith('"'):
            prints.append(re.sub(r'\\(.)', r'\1', item[8:-1]))
        elif item.startswith("file "):
            files.append(item[5:])
        else:
            sys.exit(f"{where}: cannot read the check item '{item}'")
    r = subprocess.run(["bash", "-e", "-c", text], cwd=work, capture_output=True, text=True, timeout=300)
    out = r.stdout + r.stderr
    ran += 1
    problems = []
    if r.returncode != want_exit:
        problems.append(f"exit {r.returncode}, the README says {want_exit}")
    problems += [f"does not print {p!r}" for p in prints if p not in out]
    for f in files:
        path = os.path.join(work, f)
        if not os.path.isfile(path) or os.path.getsize(path) == 0:
            problems.append(f"leaves no file {f}")
    if problems:
        failures += 1
        print(f"FAILED: {where}: " + "; ".join(problems))
        print("  its output:\n" + "\n".join("    " + l for l in out.splitlines()[-40:]))
print(f"readme: {len(examples)} examples, {ran} run, {skipped} run elsewhere, {failures} failed")
sys.exit(1 if failures else 0)
PY
echo "readme checks passed"
