#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a fixed time each:
#   scripts/run-fuzzers.sh BUILD_DIR SECONDS
# Each target starts from its committed seeds (fuzz/corpus/<target>) plus what
# earlier runs found (fuzz/corpus-work/<target>, not committed), reads its
# options from fuzz/<target>.options, and stops at the first crash, leak or
# hang (any input taking over 10 s: a whole input normally takes milliseconds,
# the data-port stand-in never lets a receive wait, and the control stand-in
# keeps silent for at most 200 ms); the input that caused
# it is left in BUILD_DIR/fuzz-artifacts/<target>/.
# Prints the executions of each target; exits non-zero if any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=$2

# "key = value" lines of the [libfuzzer] section become -key=value flags; a
# dict path is taken relative to fuzz/.
options_for() {
  local file=$root/fuzz/$1.options
  [ -f "$file" ] || return 0
  awk -v dir="$root/fuzz" '
    /^\[/ { section = $0; next }
    section == "[libfuzzer]" && /=/ {
      split($0, kv, "=")
      key = kv[1]; value = substr($0, index($0, "=") + 1)
      gsub(/[ \t]/, "", key); gsub(/^[ \t]+|[ \t]+$/, "", value)
      if (key == "dict") value = dir "/" value
      print "-" key "=" value
    }' "$file"
}

targets=()
for exe in "$build"/fuzz/fuzz_*; do
  [ -x "$exe" ] && [ -f "$exe" ] && targets+=("$exe")
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "run-fuzzers: no fuzz targets in $build/fuzz (configure with -DVYX_BUILD_FUZZ=ON)" >&2
  exit 1
fi

failed=()
summary=()
for exe in "${targets[@]}"; do
  name=$(basename "$exe")
  work=$root/fuzz/corpus-work/$name
  artifacts=$build/fuzz-artifacts/$name
  log=$build/fuzz-logs/$name.log
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  mapfile -t extra < <(options_for "$name")
  echo "== $name: ${seconds}s ${extra[*]}"
  status=0
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "${extra[@]}" "$work" "$root/fuzz/corpus/$name" \
      >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$status" -ne 0 ]; then
    failed+=("$name")
    summary+=("$name: FAILED (exit $status) after ${runs:-?} executions; log $log")
    grep -E '^(==[0-9]+==ERROR|SUMMARY|invariant broken|ALARM|Test unit written)' "$log" | head -20 || true
  else
    summary+=("$name: ${runs:-?} executions in ${seconds}s, no finding")
  fi
done

echo "== fuzzing summary"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "run-fuzzers: findings in ${failed[*]}" >&2
  exit 1
fi
