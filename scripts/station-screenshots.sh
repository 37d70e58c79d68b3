#!/usr/bin/env bash
# Pictures of the station's windows, drawn offscreen against the simulators:
# the main window idle, after a successful verification, and the capture dialog
# in the middle of a capture.
# Usage: scripts/station-screenshots.sh [BUILD_DIR] [OUT_DIR]
#        (default build/release and BUILD_DIR/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
out=${2:-$build/screenshots}
[ -x "$build/idvbench/IdvBench" ] || { echo "build IdvBench first ($build/idvbench/IdvBench)" >&2; exit 1; }
mkdir -p "$out"
out=$(cd "$out" && pwd)
source scripts/station-simulators.sh
station="$build/idvbench/IdvBench"

"$station" --screenshot "$out/idvbench-idle.png"
"$station" --script "verify; wait-status 提示：验证成功" --screenshot "$out/idvbench-verified.png"
# Quality 101 is never reached: the dialog keeps capturing until it is cancelled.
"$station" --script "capture-dialog 101; sleep 1500" --screenshot "$out/capture-dialog.png" >/dev/null
ls "$out"/*.png
