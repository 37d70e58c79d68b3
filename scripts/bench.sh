#!/usr/bin/env bash
# Builds the release configuration and runs every benchmark program in bench/,
# then prints one table: extraction per stage and in total, the quality score,
# and comparison times for genuine and impostor pairs, with each benchmark's
# counters (per_comparison: the mean time of one comparison).
# Usage: scripts/bench.sh [extra Google Benchmark flags...]
# The real images are read from $FX60_DATA or ../shared/data.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset release -DFX60_BUILD_BENCH=ON >/dev/null
programs=()
for source in bench/bench_*.cpp; do programs+=("$(basename "${source%.cpp}")"); done
cmake --build --preset release -j "${jobs}" --target "${programs[@]}" >/dev/null

out=$(mktemp -d)
trap 'rm -rf "${out}"' EXIT
for program in "${programs[@]}"; do
  echo "running ${program}..." >&2
  "build/release/bench/${program}" --benchmark_format=json --benchmark_out_format=json \
    --benchmark_out="${out}/${program}.json" "$@" >/dev/null
done

python3 scripts/bench_table.py "${out}"/*.json
