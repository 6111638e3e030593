#!/usr/bin/env bash
# The documents of docs/: their examples word for word, as the README's (readme_checks.sh, each
# document in its own scratch folder), and every relative link of the README and of docs/ leading
# to a file that is there and, with a "#fragment", to a heading of that file (GitHub's anchors:
# lower case, punctuation dropped, blanks made dashes). Links to web addresses are not fetched.
#   docs_checks.sh ROVANE_SIM
set -euo pipefail
tool="$1"
repo="$(cd "$(dirname "$0")/../.." && pwd)"
links_out="$(mktemp)"
trap 'rm -f "$links_out"' EXIT
for doc in "$repo"/docs/*.md; do
  if grep -q '^<!-- check: ' "$doc"; then
    echo "== $(basename "$doc")"
    bash "$repo/tests/tool/readme_checks.sh" "$tool" "$doc"
  fi
done
python3 "$repo/scripts/doc-links.py" "$repo/README.md" "$repo"/docs/*.md "$repo"/examples/*/README.md > "$links_out" || { cat "$links_out"; exit 1; }
tail -1 "$links_out"
