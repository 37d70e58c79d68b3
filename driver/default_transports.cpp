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
  int getVersion(int deviceIndex, char* buffer) override { return StorageGetVersionAt(deviceIndex, buffer); }
  int detectFinger(int deviceIndex) override { return StorageDetectFingerAt(deviceIndex); }
  int captureImage(int deviceIndex, uint8_t* image, int timeoutMs, int waitLift, int waitForFinger) override {
    return StorageCaptureImage(deviceIndex, image, timeoutMs, waitLift, waitForFinger);
  }
};

// The device index selects only the busy and cancel bytes: every index uses the
// first module found.
class HidTransport final : public CaptureTransport {
 public:
  bool discover() override {
    PathTable paths{};
    int count = 0;
    hidBase().FindDevices({{}, hid::kVendorId, hid::kProductId}, count, paths);
    return count > 0;
  }
  int getVersion(int, char* buffer) override { return HidGetVersionNow(buffer); }
  int detectFinger(int) override { return HidDetectFingerNow(); }
  int captureImage(int deviceIndex, uint8_t* image, int timeoutMs, int waitLift, int waitForFinger) override {
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
