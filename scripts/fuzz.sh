#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (CMake preset "fuzz": clang, AddressSanitizer and UBSan)
# and runs each one on a copy of its seed corpus fuzz/corpus/<target>/:
#   scripts/fuzz.sh              10 seconds per target
#   scripts/fuzz.sh SECONDS      that many seconds per target
#   scripts/fuzz.sh --runs N     N executions per target
# The build goes to build/fuzz, or to FUZZ_BUILD_DIR when set. Prints, per target, the executions
# done and the time they took, and fails when any target crashed (its log and the input that
# crashed it stay in <build>/fuzz-runs/<target>/).
set -euo pipefail
cd "$(dirname "$0")/.."

limit=(-max_total_time=10)
case "${1:-}" in
  "") ;;
  --runs)
    [[ "${2:-}" =~ ^[0-9]+$ ]] || { echo "usage: $0 [SECONDS_PER_TARGET | --runs N]" >&2; exit 2; }
    limit=(-runs="$2") ;;
  *)
    [[ "$1" =~ ^[0-9]+$ ]] || { echo "usage: $0 [SECONDS_PER_TARGET | --runs N]" >&2; exit 2; }
    limit=(-max_total_time="$1") ;;
esac

build_dir="${FUZZ_BUILD_DIR:-build/fuzz}"
cmake --preset fuzz -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j2

runs_dir="$build_dir/fuzz-runs"
failed=()
printf '%-18s %12s %9s  %s\n' target executions seconds result
for source in fuzz/*_fuzz.cpp; do
  program="$(basename "$source" .cpp)"
  target="${program%_fuzz}"
  work="$runs_dir/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus"
  # The checked-in corpus stays as it is: the run adds what it finds to its own copy.
  if [ -d "fuzz/corpus/$target" ]; then cp fuzz/corpus/"$target"/* "$work/corpus/" 2>/dev/null || true; fi
  status=0
  "$build_dir/bin/$program" "${limit[@]}" -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$work/" "$work/corpus" >"$work/log" 2>&1 || status=$?
  executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)"
  seconds="$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$work/log" | tail -n 1)"
  if [ "$status" -eq 0 ]; then
    result=ok
  else
    result="CRASHED (exit $status, see $work/log)"
    failed+=("$target")
  fi
  printf '%-18s %12s %9s  %s\n' "$target" "${executions:-?}" "${seconds:-?}" "$result"
done

if ((${#failed[@]})); then
  for target in "${failed[@]}"; do
    echo "--- $target: the end of its log" >&2
    tail -n 40 "$runs_dir/$target/log" >&2
  done
  echo "fuzzing found crashes in: ${failed[*]}" >&2
  exit 1
fi
