#!/usr/bin/env bash
# The demos of ./run, on programs already built: starts the simulated fingerprint
# module and the virtual card reader, runs the station (its window, or
# idvbench-cli without a display) or a tool against them, and stops everything it
# started on exit, on Ctrl-C or on a failure.
#
# Usage: scripts/demo.sh BUILD_DIR DEMO [--headless]
#   DEMO: verify, fail, collect, dialog or eval (see ./run --help)
# Environment: FX60_DEMO_DIR, the folder for sockets and the run's lock
# (default $XDG_RUNTIME_DIR/fx60-demo, else /tmp/fx60-demo-UID); FX60_DEMO_OUT,
# where screenshots and plots go (default build/demo).
# Exit status: 0 when the demo showed what it shows (a failing verification
# included), 1 when it could not run or showed something else.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:?usage: scripts/demo.sh BUILD_DIR DEMO [--headless]}
demo=${2:?usage: scripts/demo.sh BUILD_DIR DEMO [--headless]}
headless=${3:-}
build=$(cd "$build" && pwd)
station=$build/idvbench
fx60=$build/tools/fx60
cards=$PWD/resources/cards
out=${FX60_DEMO_OUT:-$PWD/build/demo}
runtime=${XDG_RUNTIME_DIR:-}
if [ -n "$runtime" ] && [ -d "$runtime" ] && [ -w "$runtime" ]; then
  run_dir=${FX60_DEMO_DIR:-$runtime/fx60-demo}
else
  run_dir=${FX60_DEMO_DIR:-/tmp/fx60-demo-$(id -u)}
fi
shared_flags=/fx60-demo-$(id -u)-$(basename "$run_dir")

case "$demo" in
  verify | fail | collect | dialog | eval) ;;
  *) echo "unknown demo '$demo' (verify, fail, collect, dialog, eval)" >&2; exit 2 ;;
esac
for program in "$fx60" "$build/sim/fx60-sim" "$build/sim/idcard/idcard-sim" "$station/idvbench-cli"; do
  [ -x "$program" ] || { echo "$program is not built: run ./run, which builds it" >&2; exit 1; }
done
mkdir -p "$out"

# --- one run at a time, and what an interrupted run left behind -------------

mkdir -p -m 700 "$run_dir"
exec 9>"$run_dir/lock"
if ! flock -n 9; then
  echo "Another demo is running (its sockets are in $run_dir); stop it first." >&2
  exit 1
fi
# A run that was killed outright (no chance to clean up) may have left its
# programs, sockets and shared memory: stop the programs it recorded, if they are
# still the ones it started, and clear the rest.
if [ -f "$run_dir/pids" ]; then
  while read -r pid program; do
    if [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$program" ]; then
      kill "$pid" 2>/dev/null || true
    fi
  done <"$run_dir/pids"
fi
rm -f "$run_dir"/*.sock "$run_dir"/*.ctl "$run_dir/pids" "/dev/shm$shared_flags"

started=()
stop_all() {
  local pid
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${started[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -f "$run_dir"/*.sock "$run_dir"/*.ctl "$run_dir/pids" "/dev/shm$shared_flags"
}
trap stop_all EXIT
trap 'echo; echo "Interrupted: everything the demo started is stopped."; exit 130' INT TERM HUP

# Starts a program in the background with its output in the run folder, and
# records it. Usage: launch NAME PROGRAM ARGS...
launch() {
  local name=$1
  shift
  # The lock stays with this script alone: a program left running by a killed
  # run must not keep the next run out.
  "$@" >"$run_dir/$name.log" 2>&1 9>&- &
  started+=($!)
  echo "$! $(readlink -f "$1")" >>"$run_dir/pids"
}

# Starts a simulator and waits until its socket is there.
# Usage: start NAME SOCKET PROGRAM ARGS...
start() {
  local name=$1 socket=$2
  shift 2
  launch "$name" "$@"
  local tries=0
  until [ -S "$socket" ]; do
    if ! kill -0 "${started[-1]}" 2>/dev/null; then
      echo "$name did not start:" >&2
      cat "$run_dir/$name.log" >&2
      exit 1
    fi
    tries=$((tries + 1))
    if [ $tries -gt 300 ]; then
      echo "$name did not open $socket within 30 s" >&2
      exit 1
    fi
    sleep 0.1
  done
}

# The finger: placed a moment after the station first asks for it, then for each
# capture down for the template and the image, and lifted in between.
finger="absent:1500ms"
for _ in $(seq 50); do finger+=" present:3 lifted:1"; done

start_module() {
  start fx60-sim "$run_dir/fx60.sock" "$build/sim/fx60-sim" --mode storage --seed 1 \
    --finger "$finger" --control "$run_dir/fx60.ctl" --exit-with-parent "$run_dir/fx60.sock"
}

start_reader() {
  start idcard-sim "$run_dir/reader.sock" "$build/sim/idcard/idcard-sim" \
    --control "$run_dir/reader.ctl" --exit-with-parent "$@" "$run_dir/reader.sock"
}

export FX60_SIMULATOR=$run_dir/fx60.sock
export IDCARD_SIMULATOR=$run_dir/reader.sock
export FX60_SHARED_FLAGS_NAME=$shared_flags
# The station's single-instance lock goes to the run folder, so that the demo
# neither meets nor blocks a station the user has open.
export XDG_RUNTIME_DIR=$run_dir

have_display() {
  [ "$headless" != --headless ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }
}

# The window program and the capture dialog are built where Qt 6 is installed;
# without them the demos run the station without a window and say so.
window_program=$station/IdvBench
have_window() { [ -x "$window_program" ]; }

# Runs the station without a window through a script of button presses, printing
# every line as it comes; the lines are kept for the verdict.
run_cli() {
  launch station "$station/idvbench-cli" --timeout 60 --script "$1"
  tail -n +1 -f --pid="${started[-1]}" "$run_dir/station.log" 9>&-
  finish_last
}

# Waits for the program started last to end; it is no longer stopped at exit
# (its process id may be another process's by then).
finish_last() {
  wait "${started[-1]}" || true
  unset 'started[-1]'
}

# A picture of the station's window, drawn offscreen: the window runs SCRIPT
# (none: the window as it opens) against the same simulators, then draws itself.
screenshot() {
  local script=$1 arguments=()
  if ! have_window; then
    echo "(No screenshot: the window program IdvBench is not built; it needs Qt 6.)"
    return
  fi
  [ -z "$script" ] || arguments=(--script "$script")
  QT_QPA_PLATFORM=offscreen launch screenshot "$window_program" --timeout 60 "${arguments[@]}" \
    --screenshot "$out/idvbench.png"
  if wait "${started[-1]}"; then
    echo "Screenshot of the window: $out/idvbench.png"
  else
    echo "(No screenshot: IdvBench failed; its output is in $run_dir/screenshot.log.)" >&2
  fi
  unset 'started[-1]'
}

# Shows the window (it runs until the operator closes it), or runs SCRIPT without
# one, then draws the window running WINDOW_SCRIPT offscreen; then says whether
# the status line ended on EXPECTED.
station_demo() {
  local script=$1 window_script=$2 expected=$3 hint=$4
  if have_display && have_window; then
    echo "$hint"
    launch window "$window_program"
    local status=0
    wait "${started[-1]}" || status=$?
    unset 'started[-1]'
    if [ "$status" -ne 0 ]; then
      cat "$run_dir/window.log" >&2
      echo "The window ended with status $status; ./run --headless runs the station without one." >&2
      return 1
    fi
    return
  fi
  have_display && echo "(No window: IdvBench is not built; it needs Qt 6. Running the station without one.)"
  run_cli "$script"
  local last
  last=$(grep '^status: ' "$run_dir/station.log" | tail -n 1 | cut -d' ' -f2-)
  echo
  screenshot "$window_script"
  if [ "$last" = "$expected" ]; then
    echo "Verdict: ${last} (as expected)"
  else
    echo "Verdict: ${last:-none}, where ${expected} was expected" >&2
    return 1
  fi
}

case "$demo" in
  verify)
    start_module
    start_reader --card "$cards/zhang-wei.card"
    echo "The card of 张伟 is on the reader; the module serves impressions of the finger"
    echo "whose other impressions are on the card."
    station_demo "verify; wait-status 验证; wait-idle; exit" "verify; wait-status 验证; wait-idle" "提示：验证成功" \
      "Press 身份验证: the station reads the card and verifies the finger on the module."
    ;;
  fail)
    start_module
    start_reader --card "$cards/li-na.card"
    echo "The card of 李娜 is on the reader; the module serves another person's finger."
    station_demo "verify; wait-status 验证; wait-idle; exit" "verify; wait-status 请录入指纹; sleep 2500" "提示：验证失败" \
      "Press 身份验证: the finger on the module is not the card holder's."
    ;;
  collect)
    start_module
    # Four cards in turn; without a window the reader is unplugged at the end,
    # which ends the collection.
    turns="place $cards/li-na.card; wait 2500; place $cards/wang-fang.card; wait 2500; place $cards/john-smith.card; wait 2500"
    if have_display && have_window; then
      script=""
      for _ in $(seq 20); do script+="wait 2500; $turns; place $cards/zhang-wei.card; "; done
    else
      script="wait 2500; $turns; unplug"
    fi
    start_reader --card "$cards/zhang-wei.card" --script "$script"
    echo "Four cards are laid on the reader in turn, 2.5 s each."
    station_demo "collect; wait-idle; exit" "" "提示：身份证阅读器机具掉线" \
      "Press 信息采集: the station shows each card as it is laid on the reader."
    ;;
  dialog)
    if ! have_window; then
      echo "The capture dialog comes with the Qt program, which is not built yet." >&2
      exit 1
    fi
    start_module
    have_display || export QT_QPA_PLATFORM=offscreen
    echo "fx60 enroll --dialog: the capture dialog takes a finger from the module."
    "$fx60" enroll --dialog -o "$out/enrolled.tpl"
    echo "Template written to $out/enrolled.tpl"
    ;;
  eval)
    set_dir=$out/synthetic
    if [ "$(find "$set_dir" -name '*.pgm' 2>/dev/null | wc -l)" -ne 800 ]; then
      echo "Making 100 synthetic fingers x 8 impressions in $set_dir"
      rm -rf "$set_dir"
      "$fx60" synth "$set_dir" --fingers 100 --impressions 8 --seed 1
    fi
    "$fx60" eval "$set_dir" --det "$out/det.svg"
    echo "DET plot: $out/det.svg"
    ;;
esac
