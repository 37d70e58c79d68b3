// The device transports this build registers at load: mass storage and HID, each
// reaching real modules through the device layer and simulated ones over the
// virtual cable.
#include "driver/hid_base.h"
#include "driver/transport.h"
#include "driver/usb_base.h"

namespace fx60 {
namespace {

class StorageTransport final : public CaptureTransport {
 public:
  bool discover() override {
    PathTable paths{};
    return FindStorageModules(kStorageModuleIdentity, paths) > 0;
  }
  CommandStatus getVersion(int deviceIndex, char* buffer) override { return storageVersion(deviceIndex, buffer); }
  FingerState detectFinger(int deviceIndex) override { return storageFingerState(deviceIndex); }
  CaptureStatus captureImage(int deviceIndex, uint8_t* image, int timeoutMs, int waitLift, int waitForFinger) override {
    return StorageCaptureImage(deviceIndex, image, timeoutMs, waitLift, waitForFinger);
  }
};

// The device index selects only the busy and cancel bytes: every index uses the
// first module found.
class HidTransport final : public CaptureTransport {
 public:
  bool discover() override {
    PathTable paths{};
    return hidBase().FindDevices({{}, hid::kVendorId, hid::kProductId}, paths) > 0;
  }
  CommandStatus getVersion(int, char* buffer) override { return hidVersion(buffer); }
  FingerState detectFinger(int) override { return hidFingerState(); }
  CaptureStatus captureImage(int deviceIndex, uint8_t* image, int timeoutMs, int waitLift, int waitForFinger) override {
    return HidCaptureImage(deviceIndex, image, timeoutMs, waitLift, waitForFinger);
  }
};

}  // namespace

TransportSet defaultTransports() {
  static StorageTransport storage;
  static HidTransport hid;
  return TransportSet{&storage, &hid};
}

}  // namespace fx60
