#!/usr/bin/env bash
# The layer check: the module's own sources keep their floors, and the check does catch a file
# that includes from a floor above, or a folder that stands on no floor.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
check="$root/scripts/layer-check.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

out="$(bash "$check" "$root/src")" || fail "the module's sources: $out"
echo "$out"

# A copy of the sources with one include that runs back up: the logger reaching for the job's
# begin. The check names the file, the line and both floors.
cp -r "$root/src" "$work/up"
printf '#include "host/job_reset.h"\n' >>"$work/up/foundation/debug_log.cpp"
line=$(wc -l <"$work/up/foundation/debug_log.cpp")
if out="$(bash "$check" "$work/up")"; then fail "an include from foundation into host passed: $out"; fi
grep -qx "layer-check: src/foundation/debug_log.cpp:$line includes host/job_reset.h: foundation may not include host, a floor above it" <<<"$out" ||
  fail "the back arrow was not named: $out"

# Sideways on one floor and down are allowed; a printer header reaching into the sequencer is not.
cp -r "$root/src" "$work/side"
printf '#include "printer/printer_state.h"\n#include "foundation/debug_log.h"\n' >>"$work/side/printer/print_wait.cpp"
bash "$check" "$work/side" >/dev/null || fail "an include on the same floor or below was refused"
printf '#include "sequencer/send_thread.h"\n' >>"$work/side/printer/print_wait.h"
if out="$(bash "$check" "$work/side")"; then fail "an include from printer into sequencer passed"; fi
grep -q 'src/printer/print_wait.h:[0-9]* includes sequencer/send_thread.h' <<<"$out" || fail "not named: $out"

# A new folder must be given its floor before anything in it is judged.
cp -r "$root/src" "$work/new"
mkdir "$work/new/extras" && printf '#include "host/job_reset.h"\n' >"$work/new/extras/x.cpp"
if out="$(bash "$check" "$work/new")"; then fail "a folder on no floor passed"; fi
grep -q 'src/extras/ stands on no floor' <<<"$out" || fail "the new folder was not named: $out"
echo "layer checks: 4 passed"
