#!/usr/bin/env bash
# The simulation built with the sanitizers, running the tests — among them the swarm check, a
# short swarm of seeded jobs with drawn faults (tests/tool/swarm_checks.sh: 20 runs and the
# replayed seeds):
#   scripts/sanitize.sh            both builds: AddressSanitizer with UBSan (preset sim-asan) and
#                                  ThreadSanitizer (preset sim-tsan)
#   scripts/sanitize.sh asan|tsan  one of them
# A sanitizer report fails the test it happens in (UBSan and TSan stop at the first report; in the
# swarm a run stopped that way counts as a failed run). The run command's long end-to-end checks
# are left to the plain build (under TSan they take minutes): every job they run is the same code
# as the swarm's runs.
set -euo pipefail
cd "$(dirname "$0")/.."
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export TSAN_OPTIONS="halt_on_error=1"
for kind in ${1:-asan tsan}; do
  case "$kind" in
    asan|tsan) preset="sim-$kind" ;;
    *) echo "usage: $0 [asan|tsan]" >&2; exit 2 ;;
  esac
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -E '^RovaneSim\.RunCommand$'
done
