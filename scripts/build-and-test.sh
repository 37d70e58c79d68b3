#!/usr/bin/env bash
# Builds and tests every configuration: the full test suite in release and under
# AddressSanitizer + UndefinedBehaviorSanitizer, the concurrency tests under
# ThreadSanitizer, and every fuzz target for a bounded time (FX60_FUZZ_SECONDS,
# default 60 s each; any finding fails the run).
# Usage: scripts/build-and-test.sh [preset...] (default: release asan tsan fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(release asan tsan fuzz)
jobs=$(nproc 2>/dev/null || echo 2)

for preset in "${presets[@]}"; do
  echo "=== ${preset}: configure and build"
  extra=()
  if [ "${preset}" = fuzz ]; then
    extra+=("-DFX60_FUZZ_SECONDS=${FX60_FUZZ_SECONDS:-60}")
  fi
  cmake --preset "${preset}" -DFX60_WERROR=ON "${extra[@]}" >/dev/null
  cmake --build --preset "${preset}" -j "${jobs}"
  echo "=== ${preset}: test"
  ctest --preset "${preset}" -j "${jobs}"
done
