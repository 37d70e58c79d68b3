// The capture-and-extract loop behind zzExtractFingerprint without a dialog.
#pragma once

#include <cstdint>

#include "driver/status.h"

namespace fx60 {

// Captures images on deviceIndex until one scores at least qualityThreshold, then
// extracts and seals its template into templateOut.
CaptureStatus captureAndExtract(int deviceIndex, int timeoutMs, uint8_t* templateOut, int qualityThreshold);

}  // namespace fx60
