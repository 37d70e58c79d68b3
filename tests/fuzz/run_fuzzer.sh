#!/usr/bin/env bash
# Runs one fuzz target for a bounded time on its seeds; fails on any finding.
# Usage: run_fuzzer.sh FUZZER SEED_DIR WORK_DIR SECONDS
# FX60_FUZZ_SECONDS in the environment overrides SECONDS.
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 seconds=${FX60_FUZZ_SECONDS:-$4}

# The corpus grows from run to run; findings are those of this run only.
rm -rf "$work/findings"
mkdir -p "$work/corpus" "$work/findings"
# New inputs go to the run's own corpus; the seeds are only read.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
"$fuzzer" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=4096 -max_len=100000 \
  -print_final_stats=1 -artifact_prefix="$work/findings/" \
  "$work/corpus" "$seeds" >"$work/log.txt" 2>&1 || status=$?
if [ "$status" -ne 0 ] || ls "$work/findings"/* >/dev/null 2>&1; then
  tail -n 80 "$work/log.txt"
  echo "FINDING: $(basename "$fuzzer") failed (status $status); inputs in $work/findings"
  exit 1
fi
grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$work/log.txt" || true
