#!/usr/bin/env bash
# The world's Win32 against Windows: runs the conformance cases in the simulated world and
# compares their output, line by line, with the output recorded under Wine x86-64.
#   check.sh PROGRAM EXPECTED
set -uo pipefail
program="$1" expected="$2"
actual="$(mktemp)"
trap 'rm -f "$actual"' EXIT
"$program" >"$actual" || { echo "FAILED: $program exited with $?"; cat "$actual"; exit 1; }
if ! diff -u --label "expected (Windows, recorded under Wine)" --label "simulated world" "$expected" "$actual"; then
  echo "FAILED: the simulated world's Win32 differs from Windows in the cases above"
  exit 1
fi
echo "win32-conformance world: $(grep -c ': ' "$actual") cases, 0 differences"
