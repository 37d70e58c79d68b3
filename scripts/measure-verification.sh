#!/usr/bin/env bash
# Measures the station's verification against the simulators: the time from
# pressing "身份验证" with a card on the reader and a finger on the module until
# the status line says "提示：验证成功", in the window (offscreen), several times;
# prints each time and the median.
# Usage: scripts/measure-verification.sh [BUILD_DIR] [RUNS]   (default build/release, 10)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-10}
[ -x "$build/idvbench/IdvBench" ] || { echo "build IdvBench first ($build/idvbench/IdvBench)" >&2; exit 1; }
source scripts/station-simulators.sh
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

times=()
for run in $(seq 1 "$runs"); do
  line=$("$build/idvbench/IdvBench" --trace --script "verify; wait-status 提示：验证成功" | grep '^# wait over')
  ms=$(echo "$line" | sed 's/^# wait over, \([0-9]*\) ms.*/\1/')
  times+=("$ms")
  echo "run $run: $ms ms"
done
median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}')
echo "median of $runs: $median ms (the window checks the status line every 10 ms)"
