#!/bin/sh
# A Windows DLL must export exactly the given functions by name and import only
# from the system's own DLLs (its C++ runtime is linked in).
# Usage: check_dll.sh [--also NAME] OBJDUMP DLL FUNCTION...
#        (--also: one more DLL it may import, NAME.dll, lower case)
set -eu
also=
if [ "$1" = --also ]; then
  also="|$2"
  shift 2
fi
objdump=$1
dll=$2
shift 2
expected=$(printf '%s\n' "$@" | sort)
headers=$("$objdump" -p "$dll")
exported=$(printf '%s\n' "$headers" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort)
if [ "$exported" != "$expected" ]; then
  echo "$dll exports other functions than expected:"
  echo "$exported"
  exit 1
fi
system="^(kernel32|user32|gdi32|advapi32|msvcrt|setupapi|hid|ws2_32|comctl32|shell32|ole32|oleaut32|windowscodecs$also)\\.dll\$"
imported=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
if [ -z "$imported" ]; then
  echo "$dll: no import table found"
  exit 1
fi
foreign=$(printf '%s\n' "$imported" | grep -Ev "$system" || true)
if [ -n "$foreign" ]; then
  echo "$dll depends on DLLs that are not the system's:"
  echo "$foreign"
  exit 1
fi
echo "$dll exports exactly the $(echo "$expected" | wc -l) expected functions and imports only system DLLs: $(echo $imported)"
