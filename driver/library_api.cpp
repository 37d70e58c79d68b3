#include "driver/library_api.h"

#include <cstdio>
#include <cstring>

#include "driver/algorithm_engine.h"
#include "driver/capture_dialog.h"
#include "driver/capture_loop.h"
#include "driver/public_codes.h"
#include "driver/shared_capture_flags.h"
#include "driver/transport.h"
#include "platform/clock.h"

namespace fx60::api {

namespace {

// A null buffer of a version query.
constexpr int kStatusBadArgument = -1;

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
  if (matchStatus != 1) return publicCode(MatchDecision::InvalidTemplate);
  const int hundredths = static_cast<int>(static_cast<double>(score) * 100.0);
  return publicCode(hundredths >= SecurityLevelThresholds[clampSecurityLevel(level)] ? MatchDecision::Match
                                                                                     : MatchDecision::NoMatch);
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
  return publicCode(transport == nullptr ? FingerState::Absent : transport->detectFinger(deviceIndex));
}

int captureFingerprint(int deviceIndex, uint8_t* image, int timeoutMs, int waitLift) {
  if (image == nullptr) return publicCode(CaptureStatus::StorageReadFailed);
  CaptureTransport* transport = SelectTransport();
  if (transport == nullptr) return publicCode(CaptureStatus::NoModule);
  return publicCode(transport->captureImage(deviceIndex, image, timeoutMs, waitLift, /*waitForFinger=*/1));
}

int cancelCapture(int deviceIndex) {
  // HID side first; an unsigned test rejects negative indices too.
  CancelStatus hidResult;
  if (static_cast<unsigned>(deviceIndex) > static_cast<unsigned>(kMaxDeviceIndex)) {
    hidResult = CancelStatus::BadIndex;
  } else if (!capture_flags::isBusy(TransportKind::Hid, deviceIndex)) {
    hidResult = CancelStatus::NotRunning;
  } else {
    requestCancelAndWait(TransportKind::Hid, deviceIndex, kHidCancelWaitMs);
    hidResult = CancelStatus::Cancelled;
  }
  if (deviceIndex < 0) return publicCode(hidResult);

  if (deviceIndex > kMaxDeviceIndex) return publicCode(CancelStatus::BadIndex);
  if (!capture_flags::isBusy(TransportKind::Storage, deviceIndex)) return publicCode(CancelStatus::NotRunning);
  requestCancelAndWait(TransportKind::Storage, deviceIndex, kStorageCancelWaitMs);
  return publicCode(CancelStatus::Cancelled);
}

int getAlgVersion(char* buffer) {
  if (buffer == nullptr) return kStatusBadArgument;
  std::snprintf(buffer, 14, kAlgorithmVersionFormat, kAlgorithmVersionTag);
  extractArmed().store(0);
  return 0;
}

int extractFingerprint(int deviceIndex, int timeoutMs, uint8_t* templateOut, int qualityThreshold,
                       int showDialog) {
  if (templateOut == nullptr) return publicCode(CaptureStatus::NoTemplate);
  if (showDialog != 0) return publicCode(runCaptureDialog(timeoutMs, templateOut, qualityThreshold));
  return publicCode(captureAndExtract(deviceIndex, timeoutMs, templateOut, qualityThreshold));
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
