#include "driver/usb_base.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "driver/capture_procedure.h"
#include "driver/shared_capture_flags.h"
#include "driver/storage_protocol.h"
#include "platform/clock.h"
#include "platform/device_log.h"

namespace fx60 {
namespace {

using platform::DeviceEvent;
using platform::PassThroughOutcome;

constexpr int kWriteAttempts = 100;
// A read with time-out 0 repeats until the module answers; this bounds it.
constexpr int64_t kUnlimitedReadCapMs = 60000;
constexpr int kIndicatorOn = 1;
constexpr int kIndicatorOff = 0;
constexpr int kFingerIndicator = 0;
constexpr int kDoneIndicator = 1;
// Between attempts to open a module that has gone away.
constexpr int kReopenPauseMs = 50;

struct CommandTiming {
  int writeTimeout;
  int readLength;
  int readTimeout;
};

constexpr CommandTiming kIndicatorTiming{10, 6, 10};
constexpr CommandTiming kVersionTiming{1000, 24, 1000};
constexpr CommandTiming kDetectTiming{10, 4, 10};
constexpr CommandTiming kStartImageTiming{10, 4, 10};
constexpr CommandTiming kFirstHalfTiming{5000, storage::kImageHalfReadLength, 5000};
constexpr CommandTiming kSecondHalfTiming{1000, storage::kImageHalfReadLength, 5000};

bool validIndex(int index) { return index >= 0 && index <= kMaxDeviceIndex; }

// Writes the command block and reads the response into response (bytes received
// in received).
CommandStatus runCommand(DeviceHandle& handle, uint16_t code, std::span<const uint8_t> parameters,
                         const CommandTiming& timing, std::vector<uint8_t>& response, int& received) {
  std::vector<uint8_t> block(storage::kWorkingBufferSize, 0);
  const auto header = storage::buildCommandBlock(code, parameters);
  std::copy(header.begin(), header.end(), block.begin());
  if (usbBase().WriteData(handle, kWriteOpcode, block.data(), static_cast<int>(header.size()), timing.writeTimeout) !=
      IoStatus::Done)
    return CommandStatus::SendFailed;
  response.assign(storage::kWorkingBufferSize, 0);
  received = timing.readLength;
  if (usbBase().ReadData(handle, kReadOpcode, response.data(), received, timing.readTimeout) != IoStatus::Done)
    return CommandStatus::ReceiveFailed;
  return CommandStatus::Done;
}

// Runs a command and yields its parsed response.
CommandStatus commandResponse(DeviceHandle& handle, uint16_t code, std::span<const uint8_t> parameters,
                              const CommandTiming& timing, std::vector<uint8_t>& response,
                              storage::ModuleResponse& parsed) {
  int received = 0;
  if (const CommandStatus sent = runCommand(handle, code, parameters, timing, response, received);
      sent != CommandStatus::Done)
    return sent;
  const auto result = storage::parseResponse(std::span<const uint8_t>(response.data(), received));
  if (!result) return CommandStatus::ReceiveFailed;
  parsed = *result;
  return CommandStatus::Done;
}

// Done when the module answered with success, else Refused (or how the exchange failed).
CommandStatus commandStatus(DeviceHandle& handle, uint16_t code, std::span<const uint8_t> parameters,
                            const CommandTiming& timing) {
  std::vector<uint8_t> response;
  storage::ModuleResponse parsed;
  if (const CommandStatus status = commandResponse(handle, code, parameters, timing, response, parsed);
      status != CommandStatus::Done)
    return status;
  return parsed.status == storage::kStatusSuccess ? CommandStatus::Done : CommandStatus::Refused;
}

// Reads one image half into out.
CommandStatus readImageHalf(DeviceHandle& handle, uint8_t half, const CommandTiming& timing, uint8_t* out) {
  std::vector<uint8_t> response;
  storage::ModuleResponse parsed;
  const uint8_t parameter[] = {half};
  if (const CommandStatus status = commandResponse(handle, storage::kReadImageHalf, parameter, timing, response, parsed);
      status != CommandStatus::Done)
    return status;
  if (parsed.status != storage::kStatusSuccess) return CommandStatus::Refused;
  // A short transfer or another announced size would leave part of the image
  // stale; refuse it rather than deliver a corrupt image.
  if (parsed.dataLength != storage::kImageHalfBytes || parsed.data.size() < storage::kImageHalfBytes)
    return CommandStatus::ReceiveFailed;
  std::copy_n(parsed.data.begin(), storage::kImageHalfBytes, out);
  return CommandStatus::Done;
}

// The identity a device gives in its INQUIRY answer, quoted, for the log.
std::string inquiryIdentity(DeviceHandle& handle) {
  std::vector<uint8_t> data(storage::kInquiryBufferSize, 0);
  const auto result =
      handle.scsi->passThrough(storage::inquiryCommand(), std::span<uint8_t>(data.data(), storage::kInquiryLength));
  if (result.outcome != PassThroughOutcome::Done) return "(no answer)";
  std::string seen(reinterpret_cast<const char*>(data.data()) + storage::kInquiryIdentityOffset,
                   storage::kInquiryLength - storage::kInquiryIdentityOffset);
  std::replace_if(seen.begin(), seen.end(), [](char c) { return c < ' ' || c > '~'; }, '.');
  return "\"" + seen + "\"";
}

int findByInquiry(platform::ScsiDeviceClass deviceClass, std::string_view identity, PathTable& paths) {
  int count = 0;
  for (const auto& path : platform::listScsiDevices(deviceClass)) {
    if (count == kMaxModules) break;  // further modules are ignored
    DeviceHandle handle;
    if (usbBase().OpenDevice(path.c_str(), handle) != OpenStatus::Opened) continue;
    if (InquiryMatches(handle, identity)) {
      if (storePath(paths[count], path)) ++count;
      platform::logDeviceEvent({DeviceEvent::Kind::Opened, path, "the module (mass storage)", 0});
    } else if (platform::deviceLogActive()) {
      platform::logDeviceEvent({DeviceEvent::Kind::Ignored, path, "INQUIRY identity " + inquiryIdentity(handle), 0});
    }
    usbBase().CloseDevice(handle);
  }
  return count;
}

// The module on mass storage, for one capture.
class StorageSession final : public ModuleSession {
 public:
  explicit StorageSession(int index) : index_(index) {}
  bool open() override { return OpenStorageModule(index_, handle_) == ConnectStatus::Connected; }
  void setIndicator(Indicator indicator, bool on) override {
    StorageSetIndicator(handle_, indicator == Indicator::Finger ? kFingerIndicator : kDoneIndicator,
                        on ? kIndicatorOn : kIndicatorOff);
  }
  FingerPoll pollFinger() override { return fingerPoll(StorageDetectFinger(handle_)); }
  bool reopen() override {
    usbBase().CloseDevice(handle_);
    return open();
  }
  bool readImage(uint8_t* image) override { return StorageReadImage(handle_, image) == CommandStatus::Done; }
  void close() override { usbBase().CloseDevice(handle_); }

 private:
  int index_;
  DeviceHandle handle_;
};

// Between polls the capture pumps one window message and does not sleep; only 1 means
// waiting for the lift; without waiting for a finger the image is read at once; a
// module that has gone away is looked for again every 50 ms.
constexpr CaptureRules kStorageRules{TransportKind::Storage, CaptureStatus::StorageReadFailed, 0, true, false, false, kReopenPauseMs};

}  // namespace

CUsbBase& usbBase() {
  static CUsbBase instance;
  return instance;
}

int CUsbBase::FindDevices(const DeviceIdentity& identity, PathTable& paths) {
  return findByInquiry(platform::ScsiDeviceClass::Disk, identity.inquiry, paths);
}

OpenStatus CUsbBase::OpenDevice(const char* path, DeviceHandle& handle) {
  handle.hid.reset();
  handle.scsi = (path && *path) ? platform::openScsiDevice(path) : nullptr;
  return handle.scsi ? OpenStatus::Opened : OpenStatus::Failed;
}

IoStatus CUsbBase::WriteData(DeviceHandle& handle, uint8_t, const uint8_t* data, int length, int timeout) {
  if (length <= 0 || !data) return IoStatus::BadRequest;
  if (!handle.scsi) return IoStatus::NoDevice;
  std::vector<uint8_t> transfer(std::max(length, storage::kMinimumWriteLength), 0);
  std::copy_n(data, length, transfer.begin());
  const auto cmd = storage::write10Command(storage::passThroughSeconds(timeout));
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    platform::sleepMs(1);
    const auto result = handle.scsi->passThrough(cmd, transfer);
    platform::sleepMs(1);
    if (result.outcome == PassThroughOutcome::Done) return IoStatus::Done;
    if (result.outcome == PassThroughOutcome::Failed) return IoStatus::Failed;
    platform::logDeviceEvent({DeviceEvent::Kind::Retry, "WRITE(10)",
                              "transport error, attempt " + std::to_string(attempt + 1) + " of 100", 0});
  }
  return IoStatus::StillGarbled;
}

IoStatus CUsbBase::ReadData(DeviceHandle& handle, uint8_t, uint8_t* buffer, int& length, int timeout) {
  const int requested = length;
  length = 0;
  if (timeout < 0) return IoStatus::BadRequest;
  if (!handle.scsi || !buffer || requested <= 0) return IoStatus::NoDevice;
  const auto cmd = storage::read10Command(storage::passThroughSeconds(timeout));
  const std::span<uint8_t> data(buffer, static_cast<size_t>(requested));
  const int64_t budget = timeout == 0 ? kUnlimitedReadCapMs : timeout;
  const int64_t start = platform::monotonicMs();
  while (platform::monotonicMs() - start <= budget) {
    platform::sleepMs(1);
    const auto result = handle.scsi->passThrough(cmd, data);
    platform::sleepMs(1);
    if (result.outcome == PassThroughOutcome::Done && result.bytesTransferred >= 2) {
      length = static_cast<int>(result.bytesTransferred);
      return IoStatus::Done;
    }
  }
  platform::logDeviceEvent(
      {DeviceEvent::Kind::TimedOut, "READ(10)", "no response within " + std::to_string(budget) + " ms", 0});
  return IoStatus::TimedOut;
}

bool InquiryMatches(DeviceHandle& handle, std::string_view identity) {
  if (!handle.scsi || identity.empty()) return false;
  std::vector<uint8_t> data(storage::kInquiryBufferSize, 0);
  const auto result =
      handle.scsi->passThrough(storage::inquiryCommand(), std::span<uint8_t>(data.data(), storage::kInquiryLength));
  if (result.outcome != PassThroughOutcome::Done) return false;
  // The last revision character is not compared.
  const size_t compared =
      std::min<size_t>(identity.size() - 1, storage::kInquiryLength - storage::kInquiryIdentityOffset);
  return std::memcmp(data.data() + storage::kInquiryIdentityOffset, identity.data(), compared) == 0;
}

int FindStorageModules(std::string_view identity, PathTable& paths) {
  return findByInquiry(platform::ScsiDeviceClass::Cdrom, identity, paths);
}

ConnectStatus OpenStorageModule(int index, DeviceHandle& handle) {
  if (!validIndex(index)) return ConnectStatus::BadIndex;
  PathTable paths{};
  const int count = FindStorageModules(kStorageModuleIdentity, paths);
  if (count == 0) return ConnectStatus::NoModule;
  // An index at or beyond the count names an empty path, which fails to open.
  if (usbBase().OpenDevice(paths[index].data(), handle) != OpenStatus::Opened) return ConnectStatus::OpenFailed;
  return ConnectStatus::Connected;
}

CommandStatus StorageSetIndicator(DeviceHandle& handle, int indicator, int state) {
  const uint8_t parameters[] = {static_cast<uint8_t>(indicator), 0, static_cast<uint8_t>(state), 0};
  return commandStatus(handle, storage::kSetIndicator, parameters, kIndicatorTiming);
}

CommandStatus StorageGetVersion(DeviceHandle& handle, char* text) {
  std::vector<uint8_t> response;
  storage::ModuleResponse parsed;
  if (const CommandStatus status = commandResponse(handle, storage::kGetVersion, {}, kVersionTiming, response, parsed);
      status != CommandStatus::Done)
    return status;
  if (parsed.status != storage::kStatusSuccess) return CommandStatus::Refused;
  const size_t length = std::min(parsed.data.size(), storage::kMaxVersionText);
  std::copy_n(parsed.data.begin(), length, text);
  text[length] = '\0';
  return CommandStatus::Done;
}

CommandStatus StorageDetectFinger(DeviceHandle& handle) {
  return commandStatus(handle, storage::kDetectFinger, {}, kDetectTiming);
}

CommandStatus StorageReadImage(DeviceHandle& handle, uint8_t* image) {
  if (const CommandStatus status = commandStatus(handle, storage::kStartImage, {}, kStartImageTiming);
      status != CommandStatus::Done)
    return status;
  if (const CommandStatus status = readImageHalf(handle, storage::kFirstHalf, kFirstHalfTiming, image);
      status != CommandStatus::Done)
    return status;
  return readImageHalf(handle, storage::kSecondHalf, kSecondHalfTiming, image + storage::kImageHalfBytes);
}

FingerState storageFingerState(int index) {
  DeviceHandle handle;
  if (OpenStorageModule(index, handle) != ConnectStatus::Connected) return FingerState::OpenFailed;
  const CommandStatus status = StorageDetectFinger(handle);
  usbBase().CloseDevice(handle);
  return status == CommandStatus::Done ? FingerState::Present : FingerState::Absent;
}

CommandStatus storageVersion(int index, char* text) {
  DeviceHandle handle;
  if (OpenStorageModule(index, handle) != ConnectStatus::Connected) return CommandStatus::NoDevice;
  const CommandStatus status = StorageGetVersion(handle, text);
  usbBase().CloseDevice(handle);
  return status;
}

CaptureStatus StorageCaptureImage(int index, uint8_t* image, int timeoutMs, int waitLift, int waitForFinger) {
  StorageSession session(index);
  return captureImage(session, kStorageRules, index, image, timeoutMs, waitLift, waitForFinger);
}

}  // namespace fx60
