#!/usr/bin/env bash
# The main command: a recording host's job of 20 discs on a simulated four-drive autoloader,
#   rovane-sim run --discs 20 --drives 4 [ARGS...]
# with its progress bar and summary. Extra arguments go to `rovane-sim run` (--seed 7,
# --fail-rate 0.2, --json, --discs 100 ...; see `rovane-sim run --help`).
#
# On a fresh Debian machine it first installs the packages the build needs, then configures the
# `sim` preset and builds the rovane-sim target alone (a few minutes the first time; afterwards
# only what changed is rebuilt). The build's output goes to build/sim/run-job-build.log and is
# shown only when the build fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --sim

log=build/sim/run-job-build.log
mkdir -p build/sim
[ -f build/sim/bin/rovane-sim ] || echo "run-job: building rovane-sim (the first build takes a few minutes)" >&2
if ! { [ -f build/sim/CMakeCache.txt ] || cmake --preset sim; } > "$log" 2>&1 ||
   ! cmake --build --preset sim --target rovane-sim >> "$log" 2>&1; then
  cat "$log" >&2
  echo "run-job: the build failed (log: $log)" >&2
  exit 1
fi

# The job's size unless the arguments give their own.
args=("$@")
given() { local a; for a in "${args[@]}"; do [[ "$a" == "$1" || "$a" == "$1="* ]] && return 0; done; return 1; }
given --drives || args=(--drives 4 "${args[@]}")
given --discs || args=(--discs 20 "${args[@]}")
exec build/sim/bin/rovane-sim run "${args[@]}"
