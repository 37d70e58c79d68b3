#!/usr/bin/env bash
# Makes the Debian packages of a build tree, checks what each holds and depends
# on, unpacks them into a scratch root with dpkg (no container, no root needed),
# and runs the installed programs from there: `fx60 version`, and the station's
# `idvbench-cli --script "serial; exit"` against the installed virtual card reader.
# The integrators' example is built against the installed development files and
# run against the installed simulator.
# With WINDOWS=1 (Qt was found) the window program, its desktop entry and icon
# and the capture dialog's plugin are in the packages too, and the installed
# IdvBench draws its window offscreen.
# Usage: install_packages.sh SOURCE_DIR BUILD_DIR [WINDOWS]
set -euo pipefail
source_dir=$1
build=$2
windows=${3:-0}
work=$(mktemp -d)
started=()
shared_flags=/fx60-test-packaging-$$
cleanup() {
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${started[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work" "/dev/shm$shared_flags"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# The installed programs must find their libraries by themselves.
unset LD_LIBRARY_PATH

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/debs" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }

# What each package holds, and its dependencies.
deb() { ls "$work"/debs/"$1"_*.deb 2>/dev/null || fail "no package $1"; }
holds() {
  local package=$1
  shift
  local contents
  contents=$(dpkg-deb -c "$(deb "$package")" | awk '{print $6}')
  for path in "$@"; do
    grep -qx "./$path" <<<"$contents" || fail "$package lacks /$path"
  done
}
holds fx60link usr/bin/fx60 usr/bin/fx60-sim usr/lib/udev/rules.d/70-fx60.rules \
  usr/share/doc/fx60link/copyright
listing=$(dpkg-deb -c "$(deb fx60link)")
grep -q ' ./usr/lib/libFX60Link\.so\.2 -> ' <<<"$listing" || fail "fx60link lacks the library's soname"
holds fx60link-dev usr/include/fx60link.h usr/lib/pkgconfig/fx60link.pc \
  usr/lib/cmake/FX60Link/FX60LinkConfig.cmake usr/share/doc/fx60link-dev/copyright
holds idvbench usr/lib/idvbench/idvbench-cli usr/lib/idvbench/idcard-sim usr/lib/idvbench/libsdtapi.so \
  usr/lib/idvbench/libUniToGBK.so usr/lib/idvbench/libWltRS.so usr/lib/idvbench/libID_FprCap.so \
  usr/lib/idvbench/libID_Fpr.so usr/bin/idvbench-cli usr/share/idvbench/cards/zhang-wei.card \
  usr/share/doc/idvbench/copyright
if [ "$windows" = 1 ]; then
  holds idvbench usr/lib/idvbench/IdvBench usr/bin/IdvBench usr/share/applications/idvbench.desktop \
    usr/share/icons/hicolor/48x48/apps/idvbench.png usr/lib/fx60link/libfx60link-capture-dialog.so
  desktop=$(dpkg-deb --fsys-tarfile "$(deb idvbench)" | tar -xO ./usr/share/applications/idvbench.desktop)
  holds idvbench "usr/bin/$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' <<<"$desktop")"
fi
version=$(dpkg-deb -f "$(deb fx60link)" Version)
for package in fx60link-dev idvbench; do
  depends=$(dpkg-deb -f "$(deb "$package")" Depends)
  grep -qF "fx60link (= $version)" <<<"$depends" ||
    fail "$package does not depend on fx60link (= $version)"
done
depends=$(dpkg-deb -f "$(deb fx60link)" Depends)
grep -q 'libc6' <<<"$depends" || fail "fx60link has no library dependencies"
! grep -qi 'qt' <<<"$depends" || fail "fx60link depends on Qt: $depends"

# Unpacked by dpkg into an empty root of its own: the files land as installed and
# dpkg checks that no two packages claim one file. --unpack runs no maintainer
# script (which dpkg would run chrooted, needing root and a shell in the root).
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-not-root --force-depends --unpack "$work"/debs/*.deb >"$work/dpkg.log" 2>&1 ||
  { cat "$work/dpkg.log"; fail "dpkg could not unpack the packages"; }

printed=$("$root/usr/bin/fx60" version) || fail "the installed fx60 version failed"
grep -q '^driver:' <<<"$printed" || fail "fx60 version printed no driver line"
libraries=$(ldd "$root/usr/lib/idvbench/idvbench-cli")
grep -q "libFX60Link.so.2 => $root/" <<<"$libraries" ||
  fail "the installed station does not find the installed libFX60Link"

# Starts an installed simulator and waits for its socket. Usage: start NAME ARGS...
start() {
  local name=$1
  shift
  "$root/usr/bin/$name" --exit-with-parent "$@" "$work/$name.sock" >"$work/$name.log" 2>&1 &
  started+=($!)
  for _ in $(seq 300); do [ -S "$work/$name.sock" ] && return; sleep 0.1; done
  cat "$work/$name.log"
  fail "the installed $name did not start"
}

start idcard-sim --card "$root/usr/share/idvbench/cards/zhang-wei.card"
output=$(XDG_RUNTIME_DIR=$work IDCARD_SIMULATOR=$work/idcard-sim.sock timeout 60 \
  "$root/usr/bin/idvbench-cli" --timeout 30 --script "serial; exit" 2>&1) ||
  { echo "$output"; fail "the installed idvbench-cli failed"; }
grep -q '^status: 提示：身份证阅读器机具连接成功' <<<"$output" || { echo "$output"; fail "no reader connection"; }
grep -q '^box: IDSIM-' <<<"$output" || { echo "$output"; fail "no serial number shown"; }
if [ "$windows" = 1 ]; then
  XDG_RUNTIME_DIR=$work IDCARD_SIMULATOR=$work/idcard-sim.sock QT_QPA_PLATFORM=offscreen timeout 60 \
    "$root/usr/bin/IdvBench" --screenshot "$work/window.png" >"$work/window.log" 2>&1 ||
    { cat "$work/window.log"; fail "the installed IdvBench drew no window"; }
  file "$work/window.png" | grep -q 'PNG image' || fail "the installed IdvBench wrote no PNG"
fi
# The example of docs/integrators.md, built with the installed pkg-config file and
# run with the library path pointing into the root.
flags=$(PKG_CONFIG_PATH=$root/usr/lib/pkgconfig pkg-config --cflags --libs fx60link) ||
  fail "pkg-config does not know the installed fx60link"
cc -std=c99 -Wall -Werror "$source_dir/docs/examples/enroll_and_verify.c" $flags -o "$work/enroll_and_verify" ||
  fail "the example does not build against the installed files"
start fx60-sim
output=$(FX60_SIMULATOR=$work/fx60-sim.sock FX60_SHARED_FLAGS_NAME=$shared_flags \
  LD_LIBRARY_PATH=$root/usr/lib timeout 60 "$work/enroll_and_verify" 2>&1) ||
  { echo "$output"; fail "the example failed against the installed simulator"; }
grep -qx "the same finger" <<<"$output" || { echo "$output"; fail "the example did not verify"; }
echo "packages made, unpacked into a scratch root and run from there"
