#!/usr/bin/env bash
# Builds the fuzz preset (when needed) and runs every libFuzzer harness for
# SECONDS seconds, JOBS harnesses at a time (default 1), each on a copy of
# its seed corpus (and the inputs in fuzz/regressions/) in a temporary
# folder, so a run adds nothing to the repo.
# Prints per harness libFuzzer's final statistics; exits non-zero when any
# harness found a fault. Inputs that fail are kept in build/fuzz/artifacts/.
#
#   fuzz/run_all.sh SECONDS [JOBS]

set -u

if [ $# -lt 1 ] || [ $# -gt 2 ] || ! [[ $1 =~ ^[1-9][0-9]*$ ]] || ! [[ ${2:-1} =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 SECONDS [JOBS]" >&2
  exit 2
fi
seconds=$1
jobs=${2:-1}

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build/fuzz"
harnesses=(fuzz_time_history fuzz_number_form fuzz_dialogue fuzz_mean_filter)

cd "$repo" || exit 2
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset fuzz >/dev/null || { echo "configuring the fuzz preset failed" >&2; exit 2; }
fi
cmake --build --preset fuzz >/dev/null || { echo "building the fuzz preset failed" >&2; exit 2; }

work=$(mktemp -d /tmp/tarnvale_fuzz_run_XXXXXX) || exit 2
trap 'rm -rf "$work"' EXIT
artifacts="$build/artifacts"

# Longest input per harness: the time history and the dialogue need room for
# several 350-character numbers or 260-byte names and for a refill of the
# 4096-byte answer buffer; eight doubles are plenty for one number-form run.
max_len_of() {
  case $1 in
    fuzz_time_history) echo 8192 ;;
    fuzz_number_form) echo 128 ;;
    fuzz_dialogue) echo 12288 ;;
    *) echo 4096 ;;
  esac
}

run_harness() {
  local harness=$1
  mkdir -p "$work/$harness" "$artifacts/$harness"
  cp -R "$repo/fuzz/corpus/$harness" "$work/$harness/corpus"
  # Inputs that once found a fault run first with the seeds, so it stays fixed.
  if [ -d "$repo/fuzz/regressions/$harness" ]; then
    cp "$repo/fuzz/regressions/$harness"/* "$work/$harness/corpus/" 2>/dev/null
  fi
  # Every path absolute: fuzz_dialogue works in a folder of its own.
  # -timeout catches a hang; -rss_limit_mb leaves room for the 48 MB of
  # samples held statically plus AddressSanitizer's shadow and quarantine.
  "$build/fuzz/$harness" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
    -max_len="$(max_len_of "$harness")" -print_final_stats=1 \
    -artifact_prefix="$artifacts/$harness/" \
    "$work/$harness/corpus" >"$work/$harness/log" 2>&1
  echo $? >"$work/$harness/status"
}

running=0
for harness in "${harnesses[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
  run_harness "$harness" &
  running=$((running + 1))
done
wait

failed=0
for harness in "${harnesses[@]}"; do
  status=$(cat "$work/$harness/status" 2>/dev/null || echo 1)
  echo "=== $harness: $([ "$status" = 0 ] && echo passed || echo "FAILED (exit status $status)")"
  grep -E '^Done [0-9]+ runs in|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' \
    "$work/$harness/log"
  if [ "$status" != 0 ]; then
    failed=1
    # The report: what the harness or a sanitizer said, and where the input went.
    grep -v -E '^(#[0-9]+|INFO:|MS:|base unit:|stat::|Done [0-9]+ runs)' "$work/$harness/log" | tail -n 60
  fi
done
exit "$failed"
