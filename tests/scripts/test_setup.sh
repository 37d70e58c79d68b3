#!/usr/bin/env bash
# What ./run and ./test do about missing Debian packages, with dpkg-query, id and
# apt-get replaced by stand-ins on PATH: nothing when all are there; without root,
# the exact command to run; as root without network, a message naming the
# packages; a failed install points at `dpkg --configure -a`. Each case stops
# with exit status 1 and never reaches the build.
# Usage: test_setup.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Stand-ins: dpkg-query says "installed" for the packages in $work/installed;
# id -u prints $FAKE_UID; apt-get logs its arguments and fails as $FAKE_APT says
# (update, install or nothing).
mkdir "$work/bin"
cat >"$work/bin/dpkg-query" <<'STUB'
#!/bin/sh
package=$(eval echo "\${$#}")
grep -qx "$package" "$WORK/installed" && printf 'ii ' && exit 0
exit 1
STUB
cat >"$work/bin/id" <<'STUB'
#!/bin/sh
echo "$FAKE_UID"
STUB
cat >"$work/bin/apt-get" <<'STUB'
#!/bin/sh
echo "apt-get $*" >>"$WORK/apt.log"
case "$1" in update) [ "$FAKE_APT" != update ] ;; install) [ "$FAKE_APT" != install ] ;; esac
STUB
chmod +x "$work/bin"/*
export WORK=$work PATH=$work/bin:$PATH

# Runs fx60_install_packages on the packages of the arguments; prints its output
# and then "status N".
install() {
  local status=0 output
  output=$(cd "$source_dir" && bash -c 'source scripts/lib/setup.sh && fx60_install_packages "$@" && echo reached' \
    install "$@" 2>&1) || status=$?
  printf '%s\nstatus %d\n' "$output" "$status"
}

printf '%s\n' cmake ninja-build >"$work/installed"
: >"$work/apt.log"
out=$(FAKE_UID=1000 FAKE_APT= install cmake ninja-build)
grep -qx reached <<<"$out" || { echo "$out"; fail "all installed: did not go on"; }
[ ! -s "$work/apt.log" ] || fail "all installed: apt-get was called"

out=$(FAKE_UID=1000 FAKE_APT= install cmake libpng-dev libjpeg-dev)
grep -qx "  sudo apt-get install --no-install-recommends libpng-dev libjpeg-dev" <<<"$out" ||
  { echo "$out"; fail "not root: no exact command naming only the missing packages"; }
grep -qx "status 1" <<<"$out" || { echo "$out"; fail "not root: did not stop with 1"; }
[ ! -s "$work/apt.log" ] || fail "not root: apt-get was called"

out=$(FAKE_UID=0 FAKE_APT=update install libpng-dev)
grep -q "cannot be reached" <<<"$out" && grep -q "libpng-dev" <<<"$out" ||
  { echo "$out"; fail "no network: no clear message"; }
grep -qx "status 1" <<<"$out" || { echo "$out"; fail "no network: did not stop with 1"; }
! grep -q "apt-get install" "$work/apt.log" || fail "no network: install was tried"

out=$(FAKE_UID=0 FAKE_APT=install install libpng-dev)
grep -q "dpkg --configure -a" <<<"$out" && grep -qx "status 1" <<<"$out" ||
  { echo "$out"; fail "failed install: no repair hint or no stop"; }

: >"$work/apt.log"
out=$(FAKE_UID=0 FAKE_APT= install cmake libpng-dev)
grep -qx reached <<<"$out" || { echo "$out"; fail "root: did not go on after installing"; }
grep -q "apt-get install .*--no-install-recommends libpng-dev$" "$work/apt.log" ||
  { cat "$work/apt.log"; fail "root: did not install exactly the missing package"; }
echo "missing packages: installed, or the command to run, or a clear failure"
