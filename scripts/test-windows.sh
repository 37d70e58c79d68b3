#!/usr/bin/env bash
# The 32-bit Windows build and its tests under Wine: installs the cross compiler
# and Wine when missing (as root on Debian), cross-builds with the "windows"
# preset, starts simulated modules on the Linux side (fx60-sim from the release
# build, on TCP ports of 127.0.0.1), runs the Windows test programs under Wine and
# prints one line with the result. The station's tests start the release build's
# simulators and idcard tool themselves, through Wine. Exit status 0 when every
# test passed.
# Usage: scripts/test-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
started=$(date +%s)
log=build/windows-test.log
mkdir -p build
: >"$log"

# Wine prints its own diagnostics to stderr; the tests' output is what matters.
export WINEDEBUG=-all
export WINEPREFIX="$root/build/wine-prefix"
# No .NET or HTML engine installer prompts, and no debugger that waits on a
# crashed test program: a crash ends the program like any other failure.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

if ! command -v i686-w64-mingw32-g++-posix >/dev/null || ! command -v wine >/dev/null || ! command -v python3 >/dev/null; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends g++-mingw-w64-i686-posix mingw-w64-tools \
      binutils-mingw-w64-i686 googletest wine wine32:i386 python3 >>"$log" 2>&1
  else
    echo "windows: FAILED: needs i686-w64-mingw32-g++-posix and wine (Debian g++-mingw-w64-i686-posix, wine32)"
    exit 1
  fi
fi

# The native windows: an X server for Wine, the Chinese locale the station runs
# in, and a Song style font for the dialogs' "宋体".
if ! command -v Xvfb >/dev/null || ! command -v localedef >/dev/null || [ ! -d /usr/share/fonts/truetype/arphic ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xvfb locales fonts-arphic-uming \
      >>"$log" 2>&1
  else
    echo "windows: FAILED: needs Xvfb, localedef and a Song style font (Debian xvfb, locales, fonts-arphic-uming)"
    exit 1
  fi
fi
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf-\?8' && [ "$(id -u)" = 0 ]; then
  localedef -i zh_CN -f UTF-8 zh_CN.UTF-8 >>"$log" 2>&1 || true
fi

# The simulators and the tools that make their cards and fingers run on the Linux
# side, from the release build.
linux_programs=(sim/fx60-sim sim/idcard/idcard-sim tools/fx60 tools/idcard/idcard)
for program in "${linux_programs[@]}"; do
  if [ ! -x "build/release/$program" ]; then
    cmake --preset release >>"$log" 2>&1
    cmake --build --preset release --target fx60-sim idcard-sim fx60 idcard -j 2 >>"$log" 2>&1
    break
  fi
done

cmake --preset windows >>"$log" 2>&1
if ! cmake --build --preset windows -j 2 >>"$log" 2>&1; then
  echo "windows: FAILED: the cross build failed (see $log)"
  exit 1
fi

# One Wine prefix for the run, set up once.
wine wineboot >/dev/null 2>&1 || true
wineserver -p 2>/dev/null || true

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

# A display for the windows' tests and pictures: Xvfb on a free display number,
# which it chooses itself. Wine draws the windows' frames itself (no window
# manager) and draws "宋体" and "SimSun" with the Song style font.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>build/windows-xvfb.display 2>>"$log" &
pids+=($!)
for _ in $(seq 1 500); do [ -s build/windows-xvfb.display ] && break; sleep 0.01; done
export DISPLAY=":$(cat build/windows-xvfb.display)"
{
  printf '\xff\xfe'
  iconv -f UTF-8 -t UTF-16LE <<'EOF'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"宋体"="AR PL UMing CN"
"SimSun"="AR PL UMing CN"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"
"Managed"="N"
EOF
} >build/windows-wine.reg
wine regedit /S 'build\windows-wine.reg' >>"$log" 2>&1

# Free ports, chosen by the system for this run.
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
# start_sim VARIABLE OPTIONS...: fx60-sim on a free port, named in VARIABLE. Not
# in a command substitution: its subshell would keep the simulator's process id
# from the clean-up.
start_sim() {
  local variable=$1 port
  shift
  port=$(free_port)
  build/release/sim/fx60-sim "$@" "$port" >>"$log" 2>&1 &
  pids+=($!)
  printf -v "$variable" '%s' "$port"
}
start_sim FX60_WINE_STORAGE --mode storage
start_sim FX60_WINE_HID --mode hid
start_sim FX60_WINE_FLAKY --mode storage --fault 'crc@start-image:1'
export FX60_WINE_STORAGE FX60_WINE_HID FX60_WINE_FLAKY

# The station's pair: a card reader with a holder's card and a module serving
# impressions of the holder's finger, on TCP ports. Only the station's tests use
# them, so the names the station reads are handed on under names of their own.
build=build/release STATION_CABLE=tcp source scripts/station-simulators.sh
trap 'cleanup; station_cleanup' EXIT
export FX60_WINE_STATION_READER=$IDCARD_SIMULATOR FX60_WINE_STATION_MODULE=$FX60_SIMULATOR
export FX60_WINE_STATION_READER_CONTROL=$STATION_READER_CONTROL FX60_WINE_STATION_MODULE_CONTROL=$STATION_MODULE_CONTROL
unset IDCARD_SIMULATOR FX60_SIMULATOR STATION_READER_CONTROL STATION_MODULE_CONTROL
sleep 0.5

status=0
ctest --preset windows --output-junit "$root/build/windows/ctest-results.xml" >>"$log" 2>&1 || status=$?
# The station's tests leave their folders where the libraries they loaded stay
# until the program ends; the prefix is this build's own.
rm -rf "$WINEPREFIX"/drive_c/users/*/Temp/station-test-*
summary=$(grep -E 'tests passed' "$log" | tail -1)
# A test program that failed or hung is run once more (the preset's repeat); say
# how many needed it, so that a flaky one does not go unnoticed.
retried=$(grep -cE '\*\*\*(Failed|Timeout|Exception)' "$log" || true)
[ "$retried" = 0 ] || summary="$summary; $retried failed or timed-out attempt(s) repeated"

elapsed=$(($(date +%s) - started))
if [ "$status" = 0 ]; then
  echo "windows: passed: ${summary} under Wine in ${elapsed} s"
else
  echo "windows: FAILED: ${summary:-no test summary} (see $log)"
fi
exit "$status"
