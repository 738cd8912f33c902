#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every libFuzzer target (or those named) for a while, two at a time, starting from the
# saved corpus; new inputs go to a temporary folder, not into the repository. Prints each
# target's executions and crashes; exits non-zero when any target crashed, with the crashing
# input in the log (hex) and kept in ARTIFACTS (default: a temporary folder).
#   fuzz/run_fuzzers.sh BUILD_DIR SECONDS_PER_TARGET [TARGET ...]
# FUZZ_SEED fixes libFuzzer's random seed (CI does, so that its runs repeat).
# Longer run, for instance an hour per target:  fuzz/run_fuzzers.sh build-fuzz 3600
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
seconds=$2
shift 2
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_arguments fuzz_capture_metadata fuzz_capture_names fuzz_capture_reader fuzz_fft fuzz_tools)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts=${ARTIFACTS:-$work/artifacts}
mkdir -p "$artifacts"

run_one() {
  local target=$1
  mkdir -p "$work/$target"
  local saved=()
  for folder in "$here/corpus/$target" "$here/regressions/$target"; do
    [ -d "$folder" ] && saved+=("$folder")
  done
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=3072 -print_final_stats=1 ${FUZZ_SEED:+-seed=$FUZZ_SEED} \
    -artifact_prefix="$artifacts/$target-" "$work/$target" "${saved[@]}" > "$work/$target.log" 2>&1
  echo $? > "$work/$target.status"
}
export -f run_one
export build seconds work artifacts here FUZZ_SEED
printf '%s\n' "${targets[@]}" | xargs -P 2 -I{} bash -c 'run_one {}'

failed=0
for target in "${targets[@]}"; do
  status=$(cat "$work/$target.status")
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/$target.log" | grep -o '[0-9]*$')
  crashes=$(ls "$artifacts" | grep -c "^$target-" || true)
  echo "$target: ${runs:-?} executions in ${seconds} s, $crashes crashes, status $status"
  if [ "$status" != 0 ]; then
    failed=1
    tail -n 40 "$work/$target.log"
    for input in "$artifacts/$target-"*; do
      [ -f "$input" ] && { echo "crashing input $input:"; od -An -tx1 "$input" | head -n 20; }
    done
  fi
done
exit $failed
