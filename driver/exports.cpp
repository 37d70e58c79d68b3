// The C interface: each export forwards to its C++ implementation.
#include "fx60link.h"

#include "driver/library_api.h"

extern "C" {

FX60LINK_API int zzGetDriverVersion(char* buffer) { return fx60::api::getDriverVersion(buffer); }

FX60LINK_API int zzGetDeviceVersion(int deviceIndex, char* buffer) {
  return fx60::api::getDeviceVersion(deviceIndex, buffer);
}

FX60LINK_API int zzDetectFingerprint(int deviceIndex) { return fx60::api::detectFingerprint(deviceIndex); }

FX60LINK_API int zzCaptureFingerprint(int deviceIndex, unsigned char* image, int timeoutMs, int waitLift) {
  return fx60::api::captureFingerprint(deviceIndex, image, timeoutMs, waitLift);
}

FX60LINK_API int zzCancelCapture(int deviceIndex) { return fx60::api::cancelCapture(deviceIndex); }

FX60LINK_API int zzGetAlgVersion(char* buffer) { return fx60::api::getAlgVersion(buffer); }

FX60LINK_API int zzExtractFingerprint(int deviceIndex, int timeoutMs, unsigned char* templateOut,
                                      int qualityThreshold, int showDialog) {
  return fx60::api::extractFingerprint(deviceIndex, timeoutMs, templateOut, qualityThreshold, showDialog);
}

FX60LINK_API int zzMatchFingerprint(const unsigned char* templateA, const unsigned char* templateB, int level) {
  return fx60::api::matchFingerprint(templateA, templateB, level);
}

}  // extern "C"
