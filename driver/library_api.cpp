#include "driver/library_api.h"

#include <cstdio>
#include <cstring>

#include "driver/algorithm_engine.h"
#include "driver/capture_dialog.h"
#include "driver/capture_loop.h"
#include "driver/shared_capture_flags.h"
#include "driver/transport.h"
#include "platform/clock.h"

namespace fx60::api {

namespace {

constexpr int kStatusBadArgument = -1;
constexpr int kStatusNoModule = -1;
constexpr int kStatusStorageReadFailed = -4;
constexpr int kStatusNoTemplate = -6;
constexpr int kStatusBadIndex = -10;
constexpr int kStatusNotRunning = -11;

constexpr int kCancelPollMs = 10;
constexpr int kHidCancelWaitMs = 1000;
constexpr int kStorageCancelWaitMs = 50;

// Sets the cancel byte of a running capture and waits until the capture clears it
// or the wait is over.
void requestCancelAndWait(TransportKind kind, int index, int waitMs) {
  capture_flags::requestCancel(kind, index);
  const int64_t start = platform::monotonicMs();
  while (capture_flags::cancelRequested(kind, index) && platform::monotonicMs() - start <= waitMs)
    platform::sleepMs(kCancelPollMs);
}

}  // namespace

int clampSecurityLevel(int level) { return level < 1 || level > 5 ? kDefaultSecurityLevel : level; }

int matchDecision(int matchStatus, float score, int level) {
  if (matchStatus != 1) return -2;
  const int hundredths = static_cast<int>(static_cast<double>(score) * 100.0);
  return hundredths >= SecurityLevelThresholds[clampSecurityLevel(level)] ? 0 : -1;
}

int getDriverVersion(char* buffer) {
  if (buffer == nullptr) return kStatusBadArgument;
  std::memcpy(buffer, kDriverVersion, sizeof kDriverVersion);
  return 0;
}

int getDeviceVersion(int deviceIndex, char* buffer) {
  if (buffer == nullptr) return kStatusBadArgument;
  if (CaptureTransport* transport = SelectTransport()) transport->getVersion(deviceIndex, buffer);
  return 0;
}

int detectFingerprint(int deviceIndex) {
  CaptureTransport* transport = SelectTransport();
  return transport == nullptr ? 0 : transport->detectFinger(deviceIndex);
}

int captureFingerprint(int deviceIndex, uint8_t* image, int timeoutMs, int waitLift) {
  if (image == nullptr) return kStatusStorageReadFailed;
  CaptureTransport* transport = SelectTransport();
  if (transport == nullptr) return kStatusNoModule;
  return transport->captureImage(deviceIndex, image, timeoutMs, waitLift, /*waitForFinger=*/1);
}

int cancelCapture(int deviceIndex) {
  // HID side first; an unsigned test rejects negative indices too.
  int hidResult;
  if (static_cast<unsigned>(deviceIndex) > static_cast<unsigned>(kMaxDeviceIndex)) {
    hidResult = kStatusBadIndex;
  } else if (!capture_flags::isBusy(TransportKind::Hid, deviceIndex)) {
    hidResult = kStatusNotRunning;
  } else {
    requestCancelAndWait(TransportKind::Hid, deviceIndex, kHidCancelWaitMs);
    hidResult = 0;
  }
  if (deviceIndex < 0) return hidResult;

  if (deviceIndex > kMaxDeviceIndex) return kStatusBadIndex;
  if (!capture_flags::isBusy(TransportKind::Storage, deviceIndex)) return kStatusNotRunning;
  requestCancelAndWait(TransportKind::Storage, deviceIndex, kStorageCancelWaitMs);
  return 0;
}

int getAlgVersion(char* buffer) {
  if (buffer == nullptr) return kStatusBadArgument;
  std::snprintf(buffer, 14, kAlgorithmVersionFormat, kAlgorithmVersionTag);
  extractArmed().store(0);
  return 0;
}

int extractFingerprint(int deviceIndex, int timeoutMs, uint8_t* templateOut, int qualityThreshold,
                       int showDialog) {
  if (templateOut == nullptr) return kStatusNoTemplate;
  if (showDialog != 0) return runCaptureDialog(timeoutMs, templateOut, qualityThreshold);
  return captureAndExtract(deviceIndex, timeoutMs, templateOut, qualityThreshold);
}

int matchFingerprint(const uint8_t* templateA, const uint8_t* templateB, int level) {
  level = clampSecurityLevel(level);
  float score = 0.0f;
  int status = -2;
  if (templateA != nullptr && templateB != nullptr) status = MatchSealedTemplates(templateA, templateB, &score);
  extractArmed().store(0);
  return matchDecision(status, score, level);
}

}  // namespace fx60::api
