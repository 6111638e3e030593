#!/usr/bin/env bash
# The documents of docs/: their examples word for word, as the README's (readme_checks.sh, each
# document in its own scratch folder), and every relative link of the README and of docs/ leading
# to a file that is there and, with a "#fragment", to a heading of that file (GitHub's anchors:
# lower case, punctuation dropped, blanks made dashes). Links to web addresses are not fetched.
#   docs_checks.sh ROVANE_SIM
set -euo pipefail
tool="$1"
repo="$(cd "$(dirname "$0")/../.." && pwd)"
for doc in "$repo"/docs/*.md; do
  if grep -q '^<!-- check: ' "$doc"; then
    echo "== $(basename "$doc")"
    bash "$repo/tests/tool/readme_checks.sh" "$tool" "$doc"
  fi
done
python3 - "$repo" <<'PY'
import os, re, sys
repo = sys.argv[1]
docs = [os.path.join(repo, "README.md")] + sorted(
    os.path.join(repo, "docs", f) for f in os.listdir(os.path.join(repo, "docs")) if f.endswith(".md"))
LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
def anchors(path):
    out, fence = set(), False
    for line in open(path, encoding="utf-8"):
        if line.startswith("```"):
            fence = not fence
        if fence or not line.startswith("#"):
            continue
        title = line.lstrip("#").strip().lower()
        out.add(re.sub(r"\s", "-", re.sub(r"[^\w\- ]", "", title)))
    return out
bad = links = 0
for doc in docs:
    fence = False
    for n, line in enumerate(open(doc, encoding="utf-8"), 1):
        if line.startswith("```"):
            fence = not fence
        if fence:
            continue
        for target in LINK.findall(line):
            if re.match(r"^[a-z]+:", target):
                continue
            links += 1
            path, _, frag = target.partition("#")
            full = os.path.normpath(os.path.join(os.path.dirname(doc), path)) if path else doc
            where = f"{os.path.relpath(doc, repo)}:{n}: {target}"
            if not os.path.exists(full):
                print(f"docs: {where}: no such file"); bad += 1
            elif frag and full.endswith(".md") and frag not in anchors(full):
                print(f"docs: {where}: no heading '#{frag}' in {os.path.relpath(full, repo)}"); bad += 1
print(f"docs: {links} relative links in {len(docs)} documents, {bad} broken")
sys.exit(1 if bad else 0)
PY
