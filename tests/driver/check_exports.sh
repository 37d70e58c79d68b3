#!/bin/sh
# The shared library must export exactly the eight zz functions.
set -eu
expected="zzCancelCapture
zzCaptureFingerprint
zzDetectFingerprint
zzExtractFingerprint
zzGetAlgVersion
zzGetDeviceVersion
zzGetDriverVersion
zzMatchFingerprint"
actual=$(nm -D --defined-only "$1" | awk '{print $3}' | sort)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from the eight zz functions:"
  echo "$actual"
  exit 1
fi
echo "exactly the eight zz functions are exported"
