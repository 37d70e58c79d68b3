#!/usr/bin/env python3
"""Prints the Google Benchmark JSON reports named on the command line as one table.

Columns: program, benchmark, real and CPU time per iteration in microseconds, the
figure each is (a mean, or the median of repetitions), then the benchmark's
counters: per_comparison (the mean time of one comparison, in microseconds) and
any others by name.
"""
import json
import sys

UNIT_MICROS = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}
# Fields of a benchmark entry that are not user counters.
STANDARD_FIELDS = {
    "name", "family_index", "per_family_instance_index", "run_name", "run_type", "repetitions",
    "repetition_index", "threads", "iterations", "real_time", "cpu_time", "time_unit", "aggregate_name",
    "aggregate_unit", "error_occurred", "error_message", "label",
}


def counters(benchmark):
    """The user counters as text; per_comparison (seconds per comparison) in microseconds."""
    shown = []
    for key, value in benchmark.items():
        if key in STANDARD_FIELDS or not isinstance(value, (int, float)):
            continue
        if key == "per_comparison":
            shown.append(f"per_comparison {value * 1e6:.2f} us")
        else:
            shown.append(f"{key} {value:.4g}")
    return "  ".join(shown)


def main(paths):
    rows = []
    for path in paths:
        with open(path) as report_file:
            report = json.load(report_file)
        program = path.rsplit("/", 1)[-1].removesuffix(".json")
        for b in report["benchmarks"]:
            # Repeated benchmarks report their median; single runs their own figure.
            repeated = b.get("repetitions", 1) > 1
            if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
                continue
            if repeated and b.get("run_type") != "aggregate":
                continue
            name = b.get("run_name", b["name"])
            kind = f"median of {b.get('repetitions', '?')}" if b.get("run_type") == "aggregate" else "mean"
            unit = UNIT_MICROS[b["time_unit"]]
            rows.append((program, name, b["real_time"] * unit, b["cpu_time"] * unit, kind, counters(b)))
    if not rows:
        print("no benchmarks ran", file=sys.stderr)
        return 1
    width = max(len(r[1]) for r in rows)
    print(f"{'program':<24} {'benchmark':<{width}} {'real us':>10} {'cpu us':>10}  {'figure':<12}  counters")
    for program, name, real, cpu, kind, shown in rows:
        print(f"{program:<24} {name:<{width}} {real:>10.1f} {cpu:>10.1f}  {kind:<12}  {shown}".rstrip())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
