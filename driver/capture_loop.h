// The capture-and-extract loop behind zzExtractFingerprint without a dialog.
#pragma once

#include <cstdint>

namespace fx60 {

// Captures images on deviceIndex until one scores at least qualityThreshold, then
// extracts and seals its template into templateOut. Returns a capture status.
int captureAndExtract(int deviceIndex, int timeoutMs, uint8_t* templateOut, int qualityThreshold);

}  // namespace fx60
