#!/bin/sh
# Installs the build tree into a scratch prefix, builds the consumer against it and runs it.
set -eu
build_dir=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null || { echo "install failed"; exit 1; }
libdir=$(dirname "$(find "$work/prefix" -name 'libFX60Link.so' | head -n 1)")
export PKG_CONFIG_PATH="$libdir/pkgconfig"
cmake -S "$source_dir" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_C_FLAGS="${CONSUMER_FLAGS:-}" -DCMAKE_EXE_LINKER_FLAGS="${CONSUMER_FLAGS:-}" >/dev/null
cmake --build "$work/build" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/build/consumer_cmake"
LD_LIBRARY_PATH="$libdir" "$work/build/consumer_pkgconfig"
