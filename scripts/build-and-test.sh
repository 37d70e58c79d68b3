#!/usr/bin/env bash
# Builds the release and the sanitizer configurations and runs the full test suite
# in both. Usage: scripts/build-and-test.sh [preset...] (default: release asan)
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(release asan)
jobs=$(nproc 2>/dev/null || echo 2)

for preset in "${presets[@]}"; do
  echo "=== ${preset}: configure and build"
  cmake --preset "${preset}" -DFX60_WERROR=ON >/dev/null
  cmake --build --preset "${preset}" -j "${jobs}"
  echo "=== ${preset}: test"
  ctest --preset "${preset}" -j "${jobs}"
done
