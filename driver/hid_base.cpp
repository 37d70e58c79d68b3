#include "driver/hid_base.h"

#include <algorithm>
#include <string>
#include <vector>

#include "driver/capture_procedure.h"
#include "platform/device_log.h"

namespace fx60 {
namespace {

using platform::DeviceEvent;
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

const DeviceIdentity kModuleIdentity{{}, hid::kVendorId, hid::kProductId};

// The module on HID, for one capture.
class HidSession final : public ModuleSession {
 public:
  bool open() override { return HidConnect(handle_) == ConnectStatus::Connected; }
  void setIndicator(Indicator indicator, bool on) override {
    HidSetIndicator(handle_, indicator == Indicator::Finger ? kFingerIndicator : kDoneIndicator,
                    on ? kIndicatorOn : kIndicatorOff);
  }
  FingerPoll pollFinger() override { return fingerPoll(HidDetectFinger(handle_)); }
  bool reopen() override {
    HidDisconnect(handle_);
    return HidConnect(handle_) == ConnectStatus::Connected;
  }
  bool readImage(uint8_t* image) override {
    int total = 0, width = 0, height = 0;
    return HidReadImage(handle_, image, total, width, height) == CommandStatus::Done;
  }
  void close() override { HidDisconnect(handle_); }

 private:
  DeviceHandle handle_;
};

// Between polls the capture sleeps 50 ms and does not pump window messages; any
// non-zero waitLift waits for the lift; the cancel byte and the time are checked even
// without waiting for a finger.
constexpr CaptureRules kHidRules{TransportKind::Hid, CaptureStatus::HidReadFailed, kPollIntervalMs, false, true, true, 0};

}  // namespace

CHidBase& hidBase() {
  static CHidBase instance;
  return instance;
}

int CHidBase::FindDevices(const DeviceIdentity& identity, PathTable& paths) {
  int count = 0;
  for (const auto& device : platform::listHidDevices()) {
    if (count == kMaxModules) break;  // further modules are ignored
    if (device.vendorId != identity.vendorId || device.productId != identity.productId) continue;
    auto opened = platform::openHidDevice(device.path);
    if (!opened) continue;
    if (!opened->reportLengths()) {
      platform::logDeviceEvent({DeviceEvent::Kind::Ignored, device.path, "no usable report lengths", 0});
      continue;
    }
    if (storePath(paths[count], device.path)) {
      ++count;
      platform::logDeviceEvent({DeviceEvent::Kind::Opened, device.path, "the module (HID)", 0});
    }
  }
  return count;
}

OpenStatus CHidBase::OpenDevice(const char* path, DeviceHandle& handle) {
  handle.scsi.reset();
  handle.reportLengths = {};
  handle.hid = (path && *path) ? platform::openHidDevice(path) : nullptr;
  if (!handle.hid) return OpenStatus::Failed;
  const auto lengths = handle.hid->reportLengths();
  // A module without an input report of at least one data byte cannot be driven.
  if (!lengths || lengths->input < 2) return OpenStatus::NoReportLengths;
  handle.reportLengths = *lengths;
  return OpenStatus::Opened;
}

IoStatus CHidBase::WriteData(DeviceHandle& handle, uint8_t, const uint8_t* data, int length, int timeout) {
  if (!handle.hid) return IoStatus::NoDevice;
  const int reportLength = handle.reportLengths.input;
  if (length > reportLength - 1) return IoStatus::TooLong;
  std::vector<uint8_t> report(static_cast<size_t>(reportLength), 0);
  if (length > 0 && data) std::copy_n(data, length, report.begin() + 1);
  const auto result = handle.hid->write(report, timeout);
  if (result.outcome == HidIoOutcome::TimedOut) {
    platform::logDeviceEvent({DeviceEvent::Kind::TimedOut, "HID write", "not done within " + std::to_string(timeout) + " ms", 0});
    return IoStatus::TimedOut;
  }
  if (result.outcome != HidIoOutcome::Done) {
    platform::logDeviceEvent({DeviceEvent::Kind::Failed, "HID write", "", 0});
    return IoStatus::Failed;
  }
  return result.bytes == report.size() ? IoStatus::Done : IoStatus::Partial;
}

IoStatus CHidBase::ReadData(DeviceHandle& handle, uint8_t, uint8_t* buffer, int& length, int timeout) {
  if (!handle.hid) return IoStatus::NoDevice;
  std::vector<uint8_t> report(handle.reportLengths.input, 0);
  const auto result = handle.hid->read(report, timeout);
  if (result.outcome == HidIoOutcome::TimedOut) {
    platform::logDeviceEvent({DeviceEvent::Kind::TimedOut, "HID read", "no report within " + std::to_string(timeout) + " ms", 0});
    return IoStatus::TimedOut;
  }
  if (result.outcome != HidIoOutcome::Done) {
    platform::logDeviceEvent({DeviceEvent::Kind::Failed, "HID read", "", 0});
    return IoStatus::Failed;
  }
  if (result.bytes != report.size()) return IoStatus::Partial;
  std::copy(report.begin() + 1, report.end(), buffer);
  length = static_cast<int>(report.size()) - 1;
  return IoStatus::Done;
}

IoStatus HidSendPacket(DeviceHandle& handle, uint8_t command, const uint8_t* payload, int n) {
  const auto packet =
      hid::buildRequest(command, std::span<const uint8_t>(payload, n > 0 && payload ? static_cast<size_t>(n) : 0));
  return hidBase().WriteData(handle, kWriteOpcode, packet.data(), static_cast<int>(packet.size()), kSendTimeoutMs);
}

CommandStatus HidReceivePacket(DeviceHandle& handle, uint8_t* payload, int& capacity, uint8_t& status) {
  std::vector<uint8_t> data(handle.reportLengths.input, 0);
  int length = 0;
  if (const IoStatus read = hidBase().ReadData(handle, kReadOpcode, data.data(), length, kReceiveTimeoutMs);
      read != IoStatus::Done)
    return read == IoStatus::NoDevice ? CommandStatus::NoDevice : CommandStatus::ReceiveFailed;
  const auto response = hid::parseResponse(std::span<const uint8_t>(data.data(), length));
  if (!response) {
    platform::logDeviceEvent({DeviceEvent::Kind::Failed, "HID response", "bad header, length or checksum", 0});
    return CommandStatus::ReceiveFailed;
  }
  const int payloadLength = static_cast<int>(response->payload.size());
  if (payload && capacity >= payloadLength) {
    std::copy(response->payload.begin(), response->payload.end(), payload);
    status = response->status;
  }
  capacity = payloadLength;
  return CommandStatus::Done;
}

CommandStatus HidTransact(DeviceHandle& handle, uint8_t command, const uint8_t* payload, int n, uint8_t* out,
                          int capacity) {
  if (!handle.hid) return CommandStatus::NoDevice;
  if (HidSendPacket(handle, command, payload, n) != IoStatus::Done) return CommandStatus::SendFailed;
  std::vector<uint8_t> received(kTransactBufferSize, 0);
  int receivedLength = kTransactBufferSize;
  uint8_t status = 0xFF;
  if (HidReceivePacket(handle, received.data(), receivedLength, status) != CommandStatus::Done)
    return CommandStatus::ReceiveFailed;
  if (status != 0) return CommandStatus::Refused;
  if (capacity > 0 && out) std::copy_n(received.begin(), std::min(capacity, receivedLength), out);
  return CommandStatus::Done;
}

ConnectStatus HidConnect(DeviceHandle& handle) {
  PathTable paths{};
  hidBase().FindDevices(kModuleIdentity, paths);
  // With no module the empty first entry fails to open.
  if (hidBase().OpenDevice(paths[0].data(), handle) != OpenStatus::Opened) {
    hidBase().CloseDevice(handle);
    return ConnectStatus::OpenFailed;
  }
  if (HidTransact(handle, hid::kConnect, nullptr, 0, nullptr, 0) != CommandStatus::Done) {
    platform::logDeviceEvent({DeviceEvent::Kind::Failed, paths[0].data(), "the module refused the connect request", 0});
    hidBase().CloseDevice(handle);
    return ConnectStatus::Refused;
  }
  return ConnectStatus::Connected;
}

void HidDisconnect(DeviceHandle& handle) {
  HidTransact(handle, hid::kDisconnect, nullptr, 0, nullptr, 0);
  if (handle.valid()) hidBase().CloseDevice(handle);
}

CommandStatus HidSetIndicator(DeviceHandle& handle, int indicator, int state) {
  const uint8_t payload[] = {static_cast<uint8_t>(indicator), static_cast<uint8_t>(state)};
  return HidTransact(handle, hid::kSetIndicator, payload, 2, nullptr, 0);
}

CommandStatus HidDetectFinger(DeviceHandle& handle) {
  return HidTransact(handle, hid::kDetectFinger, nullptr, 0, nullptr, 0);
}

CommandStatus HidReadImage(DeviceHandle& handle, uint8_t* image, int& total, int& width, int& height) {
  if (HidSendPacket(handle, hid::kReadImage, nullptr, 0) != IoStatus::Done) return CommandStatus::SendFailed;
  std::vector<uint8_t> payload(kTransactBufferSize, 0);
  int payloadLength = kTransactBufferSize;
  uint8_t status = 0xFF;
  if (HidReceivePacket(handle, payload.data(), payloadLength, status) != CommandStatus::Done)
    return CommandStatus::ReceiveFailed;
  // A payload too long for the buffer was not copied; its size cannot be trusted.
  if (payloadLength > kTransactBufferSize) return CommandStatus::ReceiveFailed;
  const auto size = hid::parseImageSize(std::span<const uint8_t>(payload.data(), payloadLength));
  // The caller's buffer holds exactly one 256 x 360 image; any other size is refused.
  if (!size || size->width != hid::kImageWidth || size->height != hid::kImageHeight) {
    platform::logDeviceEvent({DeviceEvent::Kind::Failed, "HID image", "the module announced another image size", 0});
    return CommandStatus::ReceiveFailed;
  }
  const int imageBytes = size->width * size->height;
  // Each input report places its L - 1 data bytes (L = input report length, which
  // sizes every report), so exactly ceil(total / (L - 1)) reports are read. Advancing
  // by the output report length - 1 instead would corrupt the image and read the
  // wrong number of reports whenever the lengths differ.
  const int chunk = handle.reportLengths.input - 1;
  if (chunk < 1) return CommandStatus::ReceiveFailed;

  std::vector<uint8_t> collected(hid::kCollectionBufferSize, 0);
  std::vector<uint8_t> report(handle.reportLengths.input, 0);
  for (int offset = 0; offset < imageBytes; offset += chunk) {
    int length = 0;
    if (hidBase().ReadData(handle, kReadOpcode, report.data(), length, kImageReportTimeoutMs) != IoStatus::Done)
      return CommandStatus::ReceiveFailed;
    const int fits = std::min<int>(length, static_cast<int>(collected.size()) - offset);
    std::copy_n(report.begin(), fits, collected.begin() + offset);
  }
  std::copy_n(collected.begin(), imageBytes, image);
  total = imageBytes;
  width = size->width;
  height = size->height;
  return CommandStatus::Done;
}

FingerState hidFingerState() {
  DeviceHandle handle;
  if (HidConnect(handle) != ConnectStatus::Connected) return FingerState::OpenFailed;
  const CommandStatus status = HidDetectFinger(handle);
  HidDisconnect(handle);
  return status == CommandStatus::Done ? FingerState::Present : FingerState::Absent;
}

CommandStatus hidVersion(char* text) {
  DeviceHandle handle;
  if (HidConnect(handle) != ConnectStatus::Connected) return CommandStatus::NoDevice;
  const int capacity = std::clamp(handle.reportLengths.input - 9, 0, kMaxVersionText);
  std::vector<uint8_t> received(kMaxVersionText + 1, 0);
  const CommandStatus status = HidTransact(handle, hid::kGetVersion, nullptr, 0, received.data(), capacity);
  HidDisconnect(handle);
  if (status == CommandStatus::Done) {
    const auto end = std::find(received.begin(), received.begin() + capacity, 0);
    const auto length = end - received.begin();
    std::copy_n(received.begin(), length, text);
    text[length] = '\0';
  }
  return status;
}

CaptureStatus HidCaptureImage(int index, uint8_t* image, int timeoutMs, int waitLift, int waitForFinger) {
  HidSession session;
  return captureImage(session, kHidRules, index, image, timeoutMs, waitLift, waitForFinger);
}

}  // namespace fx60
