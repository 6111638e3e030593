#!/usr/bin/env bash
# The simulation built with the sanitizers, running every test and a short swarm of seeded jobs
# with faults:
#   scripts/sanitize.sh            both builds: AddressSanitizer with UBSan (preset sim-asan) and
#                                  ThreadSanitizer (preset sim-tsan)
#   scripts/sanitize.sh asan|tsan  one of them
# A sanitizer report fails the test or the swarm run it happens in (UBSan stops at the first
# report). SWARM_RUNS sets the swarm's size (default 40).
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${SWARM_RUNS:-40}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export TSAN_OPTIONS="halt_on_error=1"
# A run that stops with threads still blocked abandons their fibers: what those stacks own is
# never freed, so leak checks would only report that.
export ASAN_OPTIONS="detect_leaks=0"
for kind in ${1:-asan tsan}; do
  case "$kind" in
    asan|tsan) preset="sim-$kind" ;;
    *) echo "usage: $0 [asan|tsan]" >&2; exit 2 ;;
  esac
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
  # The swarm's runs are child processes: a sanitizer report ends one with an error, which the
  # swarm counts as a failed run.
  "build/$preset/bin/rovane-sim" swarm --runs "$runs" --seed 1
done
