#!/bin/sh
# A shared library must export exactly the given functions (by default the eight
# zz functions of libFX60Link).
# Usage: check_exports.sh LIBRARY [SYMBOL...]
set -eu
library=$1
shift
if [ $# -gt 0 ]; then
  expected=$(printf '%s\n' "$@" | sort)
else
  expected="zzCancelCapture
zzCaptureFingerprint
zzDetectFingerprint
zzExtractFingerprint
zzGetAlgVersion
zzGetDeviceVersion
zzGetDriverVersion
zzMatchFingerprint"
fi
actual=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols of $library differ from the expected ones:"
  echo "$actual"
  exit 1
fi
echo "exactly the expected $(echo "$expected" | wc -l) functions are exported"
