#!/usr/bin/env bash
# The demos of ./run without a window, on a build tree: the sample holder
# verifies and another person's card fails, and where IdvBench is built it draws
# the window offscreen and the capture dialog takes a finger; a second demo while
# one runs is refused; Ctrl-C and a killed run leave no process, socket or shared
# memory behind, and the next run starts cleanly.
# Usage: test_demo.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
demo=$1/scripts/demo.sh
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export FX60_DEMO_DIR=$work/run FX60_DEMO_OUT=$work/out
shared_flags=/dev/shm/fx60-demo-$(id -u)-run
fail() { echo "FAIL: $*" >&2; exit 1; }

# The processes whose command line names the run folder (the simulators do).
running_from_run_folder() {
  local cmdline
  for cmdline in /proc/[0-9]*/cmdline; do
    { tr '\0' ' ' <"$cmdline"; } 2>/dev/null | grep -F -- "$FX60_DEMO_DIR/" || true
  done
}

# Nothing of a demo is left: no program started from the run folder, no socket,
# no shared-memory block.
assert_clean() {
  local left
  left=$(running_from_run_folder)
  [ -z "$left" ] || fail "$1: still running: $left"
  ! ls "$FX60_DEMO_DIR"/*.sock >/dev/null 2>&1 || fail "$1: sockets left: $(ls "$FX60_DEMO_DIR")"
  [ ! -e "$shared_flags" ] || fail "$1: shared memory left: $shared_flags"
}

# Runs a demo to its end; checks the exit status and the verdict line.
expect_verdict() {
  local name=$1 verdict=$2 output status=0
  output=$("$demo" "$build" "$name" --headless 2>&1) || status=$?
  [ "$status" -eq 0 ] || { echo "$output"; fail "$name ended with $status"; }
  grep -qx "Verdict: $verdict (as expected)" <<<"$output" || { echo "$output"; fail "$name: no verdict $verdict"; }
  if [ -x "$build/idvbench/IdvBench" ]; then
    grep -qx "Screenshot of the window: $FX60_DEMO_OUT/idvbench.png" <<<"$output" &&
      file "$FX60_DEMO_OUT/idvbench.png" | grep -q 'PNG image' || { echo "$output"; fail "$name: no screenshot"; }
    rm "$FX60_DEMO_OUT/idvbench.png"
  fi
  assert_clean "$name"
}
expect_verdict verify 提示：验证成功
expect_verdict fail 提示：验证失败
if [ -x "$build/idvbench/IdvBench" ]; then
  output=$("$demo" "$build" dialog --headless 2>&1) || { echo "$output"; fail "the capture dialog demo failed"; }
  grep -q "^Template written to " <<<"$output" && [ -s "$FX60_DEMO_OUT/enrolled.tpl" ] ||
    { echo "$output"; fail "the capture dialog wrote no template"; }
  assert_clean dialog
fi

# A demo in its own process group, as a terminal would run it; waits for its
# sockets.
set -m
start_collect() {
  "$demo" "$build" collect --headless >"$work/collect.log" 2>&1 &
  collect=$!
  for _ in $(seq 200); do [ -S "$FX60_DEMO_DIR/reader.sock" ] && return; sleep 0.1; done
  cat "$work/collect.log"
  fail "the collection demo did not start"
}

start_collect
second=$("$demo" "$build" verify --headless 2>&1) && fail "a second demo ran beside the first"
grep -q "Another demo is running" <<<"$second" || { echo "$second"; fail "the second demo did not say why"; }
kill -INT -- "-$collect"  # Ctrl-C
status=0
wait "$collect" || status=$?
[ "$status" -eq 130 ] || { cat "$work/collect.log"; fail "Ctrl-C ended the demo with $status"; }
grep -q "Interrupted" "$work/collect.log" || fail "Ctrl-C: no message"
assert_clean "Ctrl-C"

# Killed outright: the simulators stop with their parent, and the next run clears
# the sockets left behind.
start_collect
kill -KILL "$collect"
{ wait "$collect"; } 2>/dev/null || true
set +m
for _ in $(seq 50); do [ -n "$(running_from_run_folder)" ] || break; sleep 0.1; done
expect_verdict verify 提示：验证成功
echo "demos verified, refused, interrupted and cleaned up"
