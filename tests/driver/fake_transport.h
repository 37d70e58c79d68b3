// A transport without hardware for driving the capture paths in tests. It honours
// the shared busy and cancel bytes the way the real transports do.
#pragma once

#include <atomic>
#include <cstring>
#include <functional>

#include "driver/shared_capture_flags.h"
#include "driver/transport.h"
#include "platform/clock.h"
#include "template/feature_template.h"

namespace fx60::testing {

class FakeTransport : public CaptureTransport {
 public:
  explicit FakeTransport(TransportKind kind = TransportKind::Storage) : kind_(kind) {}

  bool present = true;
  CaptureStatus captureStatus = CaptureStatus::Done;  // of every capture that is not cancelled
  int captureDelayMs = 0;         // time each capture takes
  bool waitForCancel = false;     // hold the capture until cancelled (or 10 s)
  uint8_t pixel = 128;            // value of every pixel of the served image
  std::function<void()> onCapture;  // runs inside each capture, after the busy byte is set
  std::atomic<int> captures{0};

  bool discover() override { return present; }
  CommandStatus getVersion(int, char* buffer) override {
    std::memcpy(buffer, "FAKE", 4);
    return CommandStatus::Done;
  }
  FingerState detectFinger(int) override { return FingerState::Present; }

  CaptureStatus captureImage(int deviceIndex, uint8_t* image, int, int, int) override {
    if (deviceIndex < 0 || deviceIndex > kMaxDeviceIndex) return CaptureStatus::BadIndex;
    if (!capture_flags::tryBegin(kind_, deviceIndex)) return CaptureStatus::Busy;
    ++captures;
    if (onCapture) onCapture();
    CaptureStatus status = captureStatus;
    const int64_t start = platform::monotonicMs();
    const int holdMs = waitForCancel ? 10000 : captureDelayMs;
    while (platform::monotonicMs() - start < holdMs) {
      if (capture_flags::cancelRequested(kind_, deviceIndex)) {
        status = CaptureStatus::Cancelled;
        break;
      }
      platform::sleepMs(2);
    }
    if (status == CaptureStatus::Done) std::memset(image, pixel, kImageSize);
    capture_flags::end(kind_, deviceIndex);
    return status;
  }

 private:
  TransportKind kind_;
};

// Installs transports for the lifetime of the object.
class ScopedTransports {
 public:
  ScopedTransports(CaptureTransport* storage, CaptureTransport* hid) : saved_(registeredTransports()) {
    registeredTransports() = TransportSet{storage, hid};
  }
  ~ScopedTransports() { registeredTransports() = saved_; }
  ScopedTransports(const ScopedTransports&) = delete;
  ScopedTransports& operator=(const ScopedTransports&) = delete;

 private:
  TransportSet saved_;
};

}  // namespace fx60::testing
