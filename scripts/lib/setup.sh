# Shared by ./run and ./test (sourced, not run): the Debian packages each needs,
# installing the missing ones, and building a preset.

# What building the release configuration needs (its tests' libraries included:
# the preset configures them), with Qt 6 and a Song style Chinese font for the
# windows. ./run installs these.
FX60_RUN_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libpng-dev libjpeg-dev libgtest-dev libgmock-dev
  qt6-base-dev fonts-arphic-uming
)
# What ./test needs beyond them: benchmarks, clang with its sanitizer and fuzzer
# run-time for the fuzz configuration, `file` for the Debian packages, and an X
# server for the test that runs the window on a display.
FX60_TEST_PACKAGES=(
  "${FX60_RUN_PACKAGES[@]}"
  libbenchmark-dev clang libclang-rt-14-dev llvm-14 file xvfb xauth
)

# The packages of the arguments that are not installed, one per line.
fx60_missing_packages() {
  local package
  for package in "$@"; do
    if [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null)" != "ii " ]; then
      echo "$package"
    fi
  done
}

# Installs the packages of the arguments that are missing: with apt-get when root,
# otherwise prints the command to run and stops. Does nothing when all are there.
fx60_install_packages() {
  if ! command -v dpkg-query >/dev/null; then
    echo "This machine has no dpkg: install by hand what README.md lists, then run again." >&2
    exit 1
  fi
  local missing
  mapfile -t missing < <(fx60_missing_packages "$@")
  [ ${#missing[@]} -gt 0 ] || return 0
  if [ "$(id -u)" != 0 ]; then
    echo "These Debian packages are missing: ${missing[*]}" >&2
    echo "Install them as root, then run this again:" >&2
    echo "  sudo apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # --error-on=any: an archive that cannot be reached is an error, not a warning.
  if ! apt-get update -qq --error-on=any; then
    echo "The package archive cannot be reached (no network?). Connect, or install" >&2
    echo "these packages from elsewhere, then run this again: ${missing[*]}" >&2
    exit 1
  fi
  if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    echo "apt-get install failed (above). When the network is there and an earlier" >&2
    echo "install was interrupted, 'dpkg --configure -a' repairs it; then run this again." >&2
    exit 1
  fi
}

# Configures a preset unless it already is (the build itself reruns CMake when a
# CMakeLists.txt changes), then builds the given targets or all.
# Usage: fx60_build PRESET [TARGET...]
fx60_build() {
  local preset=$1
  shift
  if [ ! -f "build/${preset}/CMakeCache.txt" ]; then
    mkdir -p build
    if ! cmake --preset "${preset}" >"build/${preset}-configure.log" 2>&1; then
      cat "build/${preset}-configure.log" >&2
      rm -f "build/${preset}/CMakeCache.txt"  # configure again next time
      return 1
    fi
  fi
  local targets=()
  [ $# -eq 0 ] || targets=(--target "$@")
  cmake --build --preset "${preset}" -j "$(nproc 2>/dev/null || echo 2)" "${targets[@]}"
}
