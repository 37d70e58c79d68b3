#!/usr/bin/env bash
# Builds the release configuration and runs every benchmark program in bench/,
# then prints one table: extraction per stage and in total, the quality score,
# and comparison times for genuine and impostor pairs.
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

python3 - "${out}"/*.json <<'PY'
import json, sys

def micro(value, unit):
    return value * {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[unit]

rows = []
for path in sys.argv[1:]:
    with open(path) as f:
        report = json.load(f)
    program = path.rsplit("/", 1)[-1][:-5]
    for b in report["benchmarks"]:
        # Repeated benchmarks report their median; single runs their own figure.
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = b.get("run_name", b["name"])
        kind = "median of 5" if b.get("run_type") == "aggregate" else "mean"
        rows.append((program, name, micro(b["real_time"], b["time_unit"]),
                     micro(b["cpu_time"], b["time_unit"]), kind))

width = max(len(r[1]) for r in rows)
print(f"{'program':<24} {'benchmark':<{width}} {'real us':>10} {'cpu us':>10}  figure")
for program, name, real, cpu, kind in rows:
    print(f"{program:<24} {name:<{width}} {real:>10.1f} {cpu:>10.1f}  {kind}")
PY
