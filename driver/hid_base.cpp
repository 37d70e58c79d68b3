#include "driver/hid_base.h"

#include <algorithm>
#include <vector>

#include "driver/shared_capture_flags.h"
#include "platform/clock.h"

namespace fx60 {
namespace {

using platform::HidIoOutcome;

constexpr int kSendTimeoutMs = 200;
constexpr int kReceiveTimeoutMs = 1000;
constexpr int kImageReportTimeoutMs = 1000;
constexpr int kPollIntervalMs = 50;
constexpr int kTransactBufferSize = 4096;
// Bound of the version text handed to callers, besides its terminator.
constexpr int kMaxVersionText = 63;

constexpr int kIndicatorOn = 1;
constexpr int kIndicatorOff = 0;
constexpr int kFingerIndicator = 1;
constexpr int kDoneIndicator = 2;

bool cancelRequested(int index) { return capture_flags::cancelRequested(TransportKind::Hid, index); }

// Ends a capture whatever its outcome: indicators off, module released, bytes cleared.
struct HidCaptureScope {
  int index;
  DeviceHandle handle;
  bool connected = false;

  ~HidCaptureScope() {
    if (connected) {
      HidSetIndicator(handle, kFingerIndicator, kIndicatorOff);
      HidSetIndicator(handle, kDoneIndicator, kIndicatorOff);
      HidDisconnect(handle);
    }
    capture_flags::end(TransportKind::Hid, index);
  }
};

// A poll whose exchange failed counts as no finger, but the module may have been
// unplugged: a handle to it stays dead even once it is back. So the module is
// connected afresh (its finger indicator on again) as soon as discovery finds it.
void reconnectAfterFailedPoll(DeviceHandle& handle) {
  HidDisconnect(handle);
  if (HidConnect(handle) == 0) HidSetIndicator(handle, kFingerIndicator, kIndicatorOn);
}

// Polls every 50 ms until the finger state is wantedFinger, the time is up or a
// cancel arrives; at least one poll unless timeoutMs is below -1. Returns 0, -2, -3.
int pollFingerState(DeviceHandle& handle, int index, int timeoutMs, bool wantedFinger, bool wait) {
  int64_t elapsed = -1;
  const int64_t start = platform::monotonicMs();
  if (wait && timeoutMs >= -1) {
    do {
      if (cancelRequested(index)) return -2;
      platform::sleepMs(kPollIntervalMs);
      const int polled = HidDetectFinger(handle);
      if (polled != 0 && polled != -11) reconnectAfterFailedPoll(handle);  // no answer, unlike -11
      const bool fingerOn = polled == 0;
      if (timeoutMs != 0) elapsed = platform::monotonicMs() - start;
      if (fingerOn == wantedFinger) break;
    } while (elapsed <= timeoutMs);
  }
  if (cancelRequested(index)) return -2;
  if (elapsed > timeoutMs) return -3;
  return 0;
}

}  // namespace

CHidBase& hidBase() {
  static CHidBase instance;
  return instance;
}

int CHidBase::FindDevices(const DeviceIdentity& identity, int& count, PathTable& paths) {
  count = 0;
  for (const auto& device : platform::listHidDevices()) {
    if (count == kMaxModules) break;  // further modules are ignored
    if (device.vendorId != identity.vendorId || device.productId != identity.productId) continue;
    auto opened = platform::openHidDevice(device.path);
    if (!opened || !opened->reportLengths()) continue;
    if (storePath(paths[count], device.path)) ++count;
  }
  return 0;
}

int CHidBase::OpenDevice(const char* path, DeviceHandle& handle) {
  handle.scsi.reset();
  handle.hid = (path && *path) ? platform::openHidDevice(path) : nullptr;
  if (!handle.hid) return -3;
  const auto lengths = handle.hid->reportLengths();
  // A module without an input report of at least one data byte cannot be driven.
  if (!lengths || lengths->input < 2) return -4;
  input_ = lengths->input;
  output_ = lengths->output;
  feature_ = lengths->feature;
  return 0;
}

int CHidBase::WriteData(DeviceHandle& handle, uint8_t, const uint8_t* data, int length, int timeout) {
  if (!handle.hid) return -2;
  const int reportLength = input_;
  if (length > reportLength - 1) return -3;
  std::vector<uint8_t> report(static_cast<size_t>(reportLength), 0);
  if (length > 0 && data) std::copy_n(data, length, report.begin() + 1);
  const auto result = handle.hid->write(report, timeout);
  if (result.outcome != HidIoOutcome::Done) return -2;
  return result.bytes == report.size() ? 0 : -4;
}

int CHidBase::ReadData(DeviceHandle& handle, uint8_t, uint8_t* buffer, int& length, int timeout) {
  if (!handle.hid) return -10;
  std::vector<uint8_t> report(input_, 0);
  const auto result = handle.hid->read(report, timeout);
  if (result.outcome == HidIoOutcome::TimedOut) return -3;
  if (result.outcome != HidIoOutcome::Done) return -9;
  if (result.bytes != report.size()) return -12;
  std::copy(report.begin() + 1, report.end(), buffer);
  length = static_cast<int>(report.size()) - 1;
  return 0;
}

int HidSendPacket(DeviceHandle& handle, uint8_t command, const uint8_t* payload, int n) {
  const auto packet = hid::buildRequest(
      command, std::span<const uint8_t>(payload, n > 0 && payload ? static_cast<size_t>(n) : 0));
  return hidBase().WriteData(handle, kWriteOpcode, packet.data(), static_cast<int>(packet.size()),
                             kSendTimeoutMs);
}

int HidReceivePacket(DeviceHandle& handle, uint8_t* payload, int& capacity, uint8_t& status) {
  std::vector<uint8_t> data(hidBase().inputLength(), 0);
  int length = 0;
  if (const int r = hidBase().ReadData(handle, kReadOpcode, data.data(), length, kReceiveTimeoutMs))
    return r;
  const auto response = hid::parseResponse(std::span<const uint8_t>(data.data(), length));
  if (!response) return -11;
  const int payloadLength = static_cast<int>(response->payload.size());
  if (payload && capacity >= payloadLength) {
    std::copy(response->payload.begin(), response->payload.end(), payload);
    status = response->status;
  }
  capacity = payloadLength;
  return 0;
}

int HidTransact(DeviceHandle& handle, uint8_t command, const uint8_t* payload, int n, uint8_t* out,
                int capacity) {
  if (!handle.hid) return -10;
  if (HidSendPacket(handle, command, payload, n) != 0) return -8;
  std::vector<uint8_t> received(kTransactBufferSize, 0);
  int receivedLength = kTransactBufferSize;
  uint8_t status = 0xFF;
  if (HidReceivePacket(handle, received.data(), receivedLength, status) != 0) return -9;
  if (status != 0) return -11;
  if (capacity > 0 && out) std::copy_n(received.begin(), std::min(capacity, receivedLength), out);
  return 0;
}

int HidConnect(DeviceHandle& handle) {
  PathTable paths{};
  int count = 0;
  hidBase().FindDevices({{}, hid::kVendorId, hid::kProductId}, count, paths);
  // With no module the empty first entry fails to open.
  if (hidBase().OpenDevice(paths[0].data(), handle) != 0) {
    hidBase().CloseDevice(handle);
    return -2;
  }
  if (HidTransact(handle, hid::kConnect, nullptr, 0, nullptr, 0) != 0) {
    hidBase().CloseDevice(handle);
    return -3;
  }
  return 0;
}

void HidDisconnect(DeviceHandle& handle) {
  HidTransact(handle, hid::kDisconnect, nullptr, 0, nullptr, 0);
  if (handle.valid()) hidBase().CloseDevice(handle);
}

int HidSetIndicator(DeviceHandle& handle, int indicator, int state) {
  const uint8_t payload[] = {static_cast<uint8_t>(indicator), static_cast<uint8_t>(state)};
  return HidTransact(handle, hid::kSetIndicator, payload, 2, nullptr, 0);
}

int HidDetectFinger(DeviceHandle& handle) {
  return HidTransact(handle, hid::kDetectFinger, nullptr, 0, nullptr, 0);
}

int HidReadImage(DeviceHandle& handle, uint8_t* image, int& total, int& width, int& height) {
  if (HidSendPacket(handle, hid::kReadImage, nullptr, 0) != 0) return -8;
  std::vector<uint8_t> payload(kTransactBufferSize, 0);
  int payloadLength = kTransactBufferSize;
  uint8_t status = 0xFF;
  if (HidReceivePacket(handle, payload.data(), payloadLength, status) != 0) return -9;
  // A payload too long for the buffer was not copied; its size cannot be trusted.
  if (payloadLength > kTransactBufferSize) return -9;
  const auto size = hid::parseImageSize(std::span<const uint8_t>(payload.data(), payloadLength));
  // The caller's buffer holds exactly one 256 x 360 image; any other size is refused.
  if (!size || size->width != hid::kImageWidth || size->height != hid::kImageHeight) return -9;
  const int imageBytes = size->width * size->height;
  // Each input report places its L - 1 data bytes (L = input report length,
  // which sizes every report). Advancing by the output report length - 1
  // instead would corrupt the image and read the wrong number of reports
  // whenever the lengths differ. The offset advances by the data bytes of one
  // input report, so exactly
  // ceil(total / (L - 1)) reports are read; with equal lengths nothing changes.
  const int chunk = hidBase().inputLength() - 1;
  if (chunk < 1) return -9;

  std::vector<uint8_t> collected(hid::kCollectionBufferSize, 0);
  std::vector<uint8_t> report(hidBase().inputLength(), 0);
  for (int offset = 0; offset < imageBytes; offset += chunk) {
    int length = 0;
    if (hidBase().ReadData(handle, kReadOpcode, report.data(), length, kImageReportTimeoutMs) != 0)
      return -9;
    const int fits = std::min<int>(length, static_cast<int>(collected.size()) - offset);
    std::copy_n(report.begin(), fits, collected.begin() + offset);
  }
  std::copy_n(collected.begin(), imageBytes, image);
  total = imageBytes;
  width = size->width;
  height = size->height;
  return 0;
}

int HidDetectFingerNow() {
  DeviceHandle handle;
  if (HidConnect(handle) != 0) return -1;
  const int r = HidDetectFinger(handle);
  HidDisconnect(handle);
  return r == 0 ? 1 : 0;
}

int HidGetVersionNow(char* text) {
  DeviceHandle handle;
  if (HidConnect(handle) != 0) return -1;
  const int capacity = std::clamp(hidBase().inputLength() - 9, 0, kMaxVersionText);
  std::vector<uint8_t> received(kMaxVersionText + 1, 0);
  const int r = HidTransact(handle, hid::kGetVersion, nullptr, 0, received.data(), capacity);
  HidDisconnect(handle);
  if (r == 0) {
    const auto end = std::find(received.begin(), received.begin() + capacity, 0);
    const auto length = end - received.begin();
    std::copy_n(received.begin(), length, text);
    text[length] = '\0';
  }
  return r;
}

int HidCaptureImage(int index, uint8_t* image, int timeoutMs, int waitLift, int waitForFinger) {
  if (index < 0 || index > kMaxDeviceIndex) return -10;
  if (!capture_flags::tryBegin(TransportKind::Hid, index)) return -11;
  HidCaptureScope scope{index, {}};
  if (HidConnect(scope.handle) != 0) return -1;
  scope.connected = true;
  HidSetIndicator(scope.handle, kFingerIndicator, kIndicatorOn);

  if (const int r = pollFingerState(scope.handle, index, timeoutMs, true, waitForFinger == 1)) return r;
  int total = 0, width = 0, height = 0;
  if (HidReadImage(scope.handle, image, total, width, height) != 0) return -5;
  HidSetIndicator(scope.handle, kFingerIndicator, kIndicatorOff);
  HidSetIndicator(scope.handle, kDoneIndicator, kIndicatorOn);
  if (waitLift != 0) return pollFingerState(scope.handle, index, timeoutMs, false, true);
  return 0;
}

}  // namespace fx60
