#!/usr/bin/env bash
# The timeline page as a browser shows it: a 20-disc job's page (rovane-sim run --timeline) is
# loaded in headless Chromium (Debian's chromium); the DOM the browser builds must hold a lane per
# place, one path per disc and the run's figures in the summary table, and a screenshot of the
# page is kept as a build artefact.
#   scripts/chromium-check.sh [BUILD_DIR] [ARTEFACT_DIR]     (default: build/sim, build/artefacts)
# The artefacts: timeline.html, timeline.dom.html (the DOM as Chromium serialises it),
# timeline.png, timeline-run.json (the run's summary) and chromium.log.
# Without chromium it says so and exits 0 (skipped), or 1 when CI is set.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/sim}"
art="${2:-$root/build/artefacts}"
sim="$build/bin/rovane-sim"
fail() { echo "chromium-check: FAILED: $*" >&2; exit 1; }
[ -x "$sim" ] || fail "no $sim (build it first: cmake --build $build --target rovane-sim)"
browser="$(command -v chromium || command -v chromium-browser || true)"
if [ -z "$browser" ]; then
  echo "chromium-check: chromium is not installed (apt-get install chromium; scripts/install-deps.sh installs it)" >&2
  [ -z "${CI:-}" ] || exit 1
  echo "chromium-check: skipped" >&2
  exit 0
fi
mkdir -p "$art"
art="$(cd "$art" && pwd)"
profile="$(mktemp -d)"
trap 'rm -rf "$profile"' EXIT

"$sim" run --discs 20 --seed 1 --json --timeline "$art/timeline.html" > "$art/timeline-run.json" 2> /dev/null \
  || fail "rovane-sim run exited $?"
json="$(cat "$art/timeline-run.json")"
in_output_bins="$(sed -n 's/^ *"in_output_bins": \([0-9]*\),$/\1/p' <<<"$json")"

# Root in a container needs --no-sandbox; a profile of its own keeps the runs apart.
flags=(--headless --no-sandbox --disable-gpu --hide-scrollbars "--user-data-dir=$profile")
url="file://$art/timeline.html"
: > "$art/chromium.log"
timeout 120 "$browser" "${flags[@]}" --dump-dom "$url" > "$art/timeline.dom.html" 2>> "$art/chromium.log" \
  || fail "chromium --dump-dom exited $? (see $art/chromium.log)"
timeout 120 "$browser" "${flags[@]}" "--screenshot=$art/timeline.png" --window-size=1800,1000 "$url" \
  >> "$art/chromium.log" 2>&1 || fail "chromium --screenshot exited $? (see $art/chromium.log)"

dom="$art/timeline.dom.html"
grep -q '<title>Disc timeline: rovane-sim run: 20 discs' "$dom" || fail "the page did not load: $(head -c 300 "$dom")"
lanes="$(grep -o '<g class="lane" data-place="[^"]*"' "$dom" | sort -u | wc -l)"
for place in in:4 picker rec:A rec:B rec:C rec:D out:3; do
  grep -q "<g class=\"lane\" data-place=\"$place\"" "$dom" || fail "no lane $place in the DOM"
done
paths="$(grep -o '<path class="journey[^"]*" data-disc="[0-9]*"' "$dom" | sort -u | wc -l)"
[ "$paths" = 20 ] || fail "$paths disc paths in the DOM, not 20"
row="$(grep -o '<tr[^>]*data-segment="all">.*</tr>' "$dom")"
figure() { grep -o "data-figure=\"$1\"[^>]*>[0-9.]*" <<<"$row" | sed 's/.*>//'; }
[ "$(figure discs)" = 20 ] && [ "$(figure good)" = "$in_output_bins" ] && [ "$(figure rejected)" = 0 ] \
  || fail "summary figures in the DOM: discs $(figure discs), good $(figure good) (run: $in_output_bins in output bins)"
[ "$(head -c 8 "$art/timeline.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] \
  && [ "$(stat -c %s "$art/timeline.png")" -gt 20000 ] || fail "no screenshot in $art/timeline.png"
echo "chromium-check: $lanes lanes, $paths disc paths, $(figure discs) discs ($(figure good) good) in the DOM;" \
  "screenshot $art/timeline.png"
