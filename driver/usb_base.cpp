#include "driver/usb_base.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "driver/shared_capture_flags.h"
#include "driver/storage_protocol.h"
#include "platform/clock.h"

namespace fx60 {
namespace {

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
// in received). 0, -1 write failed, -2 read failed.
int runCommand(DeviceHandle& handle, uint16_t code, std::span<const uint8_t> parameters,
               const CommandTiming& timing, std::vector<uint8_t>& response, int& received) {
  std::vector<uint8_t> block(storage::kWorkingBufferSize, 0);
  const auto header = storage::buildCommandBlock(code, parameters);
  std::copy(header.begin(), header.end(), block.begin());
  if (usbBase().WriteData(handle, kWriteOpcode, block.data(), static_cast<int>(header.size()),
                          timing.writeTimeout) != 0)
    return -1;
  response.assign(storage::kWorkingBufferSize, 0);
  received = timing.readLength;
  if (usbBase().ReadData(handle, kReadOpcode, response.data(), received, timing.readTimeout) != 0)
    return -2;
  return 0;
}

// Runs a command and yields its parsed response, or the failure code.
int commandStatus(DeviceHandle& handle, uint16_t code, std::span<const uint8_t> parameters,
                  const CommandTiming& timing, std::vector<uint8_t>& response,
                  storage::ModuleResponse& parsed) {
  int received = 0;
  if (const int r = runCommand(handle, code, parameters, timing, response, received); r != 0) return r;
  const auto result = storage::parseResponse(std::span<const uint8_t>(response.data(), received));
  if (!result) return -2;
  parsed = *result;
  return 0;
}

// Reads one image half into out; 0, -1, -2, or -4 when refused or incomplete.
int readImageHalf(DeviceHandle& handle, uint8_t half, const CommandTiming& timing, uint8_t* out) {
  std::vector<uint8_t> response;
  storage::ModuleResponse parsed;
  const uint8_t parameter[] = {half};
  if (const int r = commandStatus(handle, storage::kReadImageHalf, parameter, timing, response, parsed))
    return r;
  // A short transfer or another announced size would leave part of the image
  // stale; refuse it rather than deliver a corrupt image.
  if (parsed.status != storage::kStatusSuccess || parsed.dataLength != storage::kImageHalfBytes ||
      parsed.data.size() < storage::kImageHalfBytes)
    return -4;
  std::copy_n(parsed.data.begin(), storage::kImageHalfBytes, out);
  return 0;
}

// Ends a capture whatever its outcome: indicators off, module closed, bytes cleared.
struct StorageCaptureScope {
  int index;
  DeviceHandle handle;
  bool opened = false;

  ~StorageCaptureScope() {
    if (opened) {
      StorageSetIndicator(handle, kFingerIndicator, kIndicatorOff);
      StorageSetIndicator(handle, kDoneIndicator, kIndicatorOff);
      usbBase().CloseDevice(handle);
    }
    capture_flags::end(TransportKind::Storage, index);
  }
};

bool cancelRequested(int index) { return capture_flags::cancelRequested(TransportKind::Storage, index); }

// A poll whose exchange failed counts as no finger, but the module may have been
// unplugged: a handle to it stays dead even once it is back. So the module is
// opened afresh (its finger indicator on again) as soon as discovery finds it.
void reopenAfterFailedPoll(DeviceHandle& handle, int index) {
  usbBase().CloseDevice(handle);
  if (OpenStorageModule(index, handle) == 0)
    StorageSetIndicator(handle, kFingerIndicator, kIndicatorOn);
  else
    platform::sleepMs(kReopenPauseMs);
}

// Polls the finger state until it is wantedFinger, the time runs out or a cancel
// arrives. The first poll is made before the loop; elapsed stays -1 when
// timeoutMs is 0 (no limit). Returns 0, -2 or -3.
int waitForFingerState(DeviceHandle& handle, int index, int timeoutMs, bool wantedFinger) {
  int64_t elapsed = -1;
  const int64_t start = platform::monotonicMs();
  auto fingerOn = [&] {
    const int r = StorageDetectFinger(handle);
    if (r == -1 || r == -2) reopenAfterFailedPoll(handle, index);  // no answer, unlike -4
    return r == 0;
  };
  if (fingerOn() != wantedFinger) {
    while (elapsed <= timeoutMs) {
      if (cancelRequested(index)) return -2;
      platform::pumpOneMessage();
      const bool on = fingerOn();
      if (timeoutMs != 0) elapsed = platform::monotonicMs() - start;
      if (on == wantedFinger) break;
    }
  }
  if (cancelRequested(index)) return -2;
  if (elapsed > timeoutMs) return -3;
  return 0;
}

}  // namespace

CUsbBase& usbBase() {
  static CUsbBase instance;
  return instance;
}

namespace {

int findByInquiry(platform::ScsiDeviceClass deviceClass, std::string_view identity, PathTable& paths) {
  int count = 0;
  for (const auto& path : platform::listScsiDevices(deviceClass)) {
    if (count == kMaxModules) break;  // further modules are ignored
    DeviceHandle handle;
    if (usbBase().OpenDevice(path.c_str(), handle) != 0) continue;
    if (InquiryMatches(handle, identity) && storePath(paths[count], path)) ++count;
    usbBase().CloseDevice(handle);
  }
  return count;
}

}  // namespace

int CUsbBase::FindDevices(const DeviceIdentity& identity, int& count, PathTable& paths) {
  count = findByInquiry(platform::ScsiDeviceClass::Disk, identity.inquiry, paths);
  return 0;
}

int CUsbBase::OpenDevice(const char* path, DeviceHandle& handle) {
  handle.hid.reset();
  handle.scsi = (path && *path) ? platform::openScsiDevice(path) : nullptr;
  return handle.scsi ? 0 : -1;
}

int CUsbBase::WriteData(DeviceHandle& handle, uint8_t, const uint8_t* data, int length, int timeout) {
  if (length <= 0 || !data) return -1;
  if (!handle.scsi) return -2;
  std::vector<uint8_t> transfer(std::max(length, storage::kMinimumWriteLength), 0);
  std::copy_n(data, length, transfer.begin());
  const auto cmd = storage::write10Command(storage::passThroughSeconds(timeout));
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    platform::sleepMs(1);
    const auto result = handle.scsi->passThrough(cmd, transfer);
    platform::sleepMs(1);
    if (result.outcome == PassThroughOutcome::Done) return 0;
    if (result.outcome == PassThroughOutcome::Failed) return -2;
  }
  return -3;
}

int CUsbBase::ReadData(DeviceHandle& handle, uint8_t, uint8_t* buffer, int& length, int timeout) {
  const int requested = length;
  length = 0;
  if (timeout < 0) return -1;
  if (!handle.scsi || !buffer || requested <= 0) return -2;
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
      return 0;
    }
  }
  return -2;
}

bool InquiryMatches(DeviceHandle& handle, std::string_view identity) {
  if (!handle.scsi || identity.empty()) return false;
  std::vector<uint8_t> data(storage::kInquiryBufferSize, 0);
  const auto result = handle.scsi->passThrough(
      storage::inquiryCommand(), std::span<uint8_t>(data.data(), storage::kInquiryLength));
  if (result.outcome != PassThroughOutcome::Done) return false;
  // The last revision character is not compared.
  const size_t compared = std::min<size_t>(identity.size() - 1, storage::kInquiryLength - storage::kInquiryIdentityOffset);
  return std::memcmp(data.data() + storage::kInquiryIdentityOffset, identity.data(), compared) == 0;
}

int FindStorageModules(std::string_view identity, PathTable& paths) {
  return findByInquiry(platform::ScsiDeviceClass::Cdrom, identity, paths);
}

int OpenStorageModule(int index, DeviceHandle& handle) {
  if (!validIndex(index)) return -10;
  PathTable paths{};
  const int count = FindStorageModules(kStorageModuleIdentity, paths);
  if (count == 0) return -1;
  // An index at or beyond the count names an empty path, which fails to open.
  if (usbBase().OpenDevice(paths[index].data(), handle) != 0) return -2;
  return 0;
}

int StorageSetIndicator(DeviceHandle& handle, int indicator, int state) {
  const uint8_t parameters[] = {static_cast<uint8_t>(indicator), 0, static_cast<uint8_t>(state), 0};
  std::vector<uint8_t> response;
  storage::ModuleResponse parsed;
  if (const int r = commandStatus(handle, storage::kSetIndicator, parameters, kIndicatorTiming, response, parsed))
    return r;
  return parsed.status == storage::kStatusSuccess ? 0 : -4;
}

int StorageGetVersion(DeviceHandle& handle, char* text) {
  std::vector<uint8_t> response;
  storage::ModuleResponse parsed;
  if (const int r = commandStatus(handle, storage::kGetVersion, {}, kVersionTiming, response, parsed))
    return r;
  if (parsed.status != storage::kStatusSuccess) return -4;
  const size_t length = std::min(parsed.data.size(), storage::kMaxVersionText);
  std::copy_n(parsed.data.begin(), length, text);
  text[length] = '\0';
  return 0;
}

int StorageDetectFinger(DeviceHandle& handle) {
  std::vector<uint8_t> response;
  storage::ModuleResponse parsed;
  if (const int r = commandStatus(handle, storage::kDetectFinger, {}, kDetectTiming, response, parsed))
    return r;
  return parsed.status == storage::kStatusSuccess ? 0 : -4;
}

int StorageReadImage(DeviceHandle& handle, uint8_t* image) {
  std::vector<uint8_t> response;
  storage::ModuleResponse parsed;
  if (const int r = commandStatus(handle, storage::kStartImage, {}, kStartImageTiming, response, parsed))
    return r;
  if (parsed.status != storage::kStatusSuccess) return -3;
  if (const int r = readImageHalf(handle, storage::kFirstHalf, kFirstHalfTiming, image)) return r;
  return readImageHalf(handle, storage::kSecondHalf, kSecondHalfTiming, image + storage::kImageHalfBytes);
}

int StorageDetectFingerAt(int index) {
  DeviceHandle handle;
  if (OpenStorageModule(index, handle) != 0) return -1;
  const int r = StorageDetectFinger(handle);
  usbBase().CloseDevice(handle);
  return r == 0 ? 1 : 0;
}

int StorageGetVersionAt(int index, char* text) {
  DeviceHandle handle;
  if (OpenStorageModule(index, handle) != 0) return -1;
  const int r = StorageGetVersion(handle, text);
  usbBase().CloseDevice(handle);
  return r;
}

int StorageCaptureImage(int index, uint8_t* image, int timeoutMs, int waitLift, int waitForFinger) {
  if (!validIndex(index)) return -10;
  if (!capture_flags::tryBegin(TransportKind::Storage, index)) return -11;
  StorageCaptureScope scope{index, {}};
  if (OpenStorageModule(index, scope.handle) != 0) return -1;
  scope.opened = true;
  StorageSetIndicator(scope.handle, kFingerIndicator, kIndicatorOn);

  if (waitForFinger == 1) {
    if (const int r = waitForFingerState(scope.handle, index, timeoutMs, true)) return r;
  }
  if (StorageReadImage(scope.handle, image) != 0) return -4;
  StorageSetIndicator(scope.handle, kFingerIndicator, kIndicatorOff);
  StorageSetIndicator(scope.handle, kDoneIndicator, kIndicatorOn);
  if (waitLift == 1) return waitForFingerState(scope.handle, index, timeoutMs, false);
  return 0;
}

}  // namespace fx60
