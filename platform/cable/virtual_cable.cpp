#include "platform/cable/virtual_cable.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "platform/device_backends.h"
#include "platform/device_log.h"

namespace fx60::platform::cable {
namespace {

// Margin on top of a request's own time-out before a silent simulator counts as
// gone, and the wait for a DESCRIBE answer.
constexpr int kResponseMarginMs = 2000;
constexpr int kDescribeWaitMs = 2000;
// A pass-through time-out of 0 means the system default, 60 seconds on Linux.
constexpr uint32_t kDefaultScsiTimeoutSeconds = 60;

void putU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint16_t getU16(std::span<const uint8_t> in, size_t at) {
  return static_cast<uint16_t>(in[at] | (in[at + 1] << 8));
}

uint32_t getU32(std::span<const uint8_t> in, size_t at) {
  return uint32_t{in[at]} | uint32_t{in[at + 1]} << 8 | uint32_t{in[at + 2]} << 16 |
         uint32_t{in[at + 3]} << 24;
}

HidIoOutcome hidOutcome(uint8_t result) {
  switch (result) {
    case kResultDone: return HidIoOutcome::Done;
    case kResultTimedOut: return HidIoOutcome::TimedOut;
    default: return HidIoOutcome::Failed;
  }
}

std::string socketOf(const std::string& devicePath) {
  return devicePath.substr(kPathPrefix.size());
}

std::optional<Description> describe(Connection& connection) {
  const auto request = encodeDescribe();
  const auto response = connection.exchange(request, kDescribeWaitMs);
  if (!response) return std::nullopt;
  return decodeDescribe(*response);
}

std::vector<std::pair<std::string, Description>> describeAll() {
  std::vector<std::pair<std::string, Description>> found;
  for (const auto& socketPath : simulatorSockets(std::getenv(kSimulatorVariable))) {
    auto connection = Connection::open(socketPath);
    if (!connection) continue;
    auto description = describe(*connection);
    const std::string where = std::string(kPathPrefix) + socketPath;
    if (!description) {
      logDeviceEvent({DeviceEvent::Kind::Failed, where, "no answer to DESCRIBE", 0});
      continue;
    }
    logDeviceEvent({DeviceEvent::Kind::Listed, where,
                    description->deviceClass == kClassHid ? "simulated HID module" : "simulated mass-storage module", 0});
    found.emplace_back(socketPath, *description);
  }
  return found;
}

class CableScsiDevice final : public ScsiDevice {
 public:
  explicit CableScsiDevice(std::unique_ptr<Connection> connection) : connection_(std::move(connection)) {}

  PassThroughResult passThrough(const ScsiCommand& cmd, std::span<uint8_t> data) override {
    const auto request = encodeScsi(cmd, data);
    const auto response = connection_->exchange(request, scsiResponseWaitMs(cmd.timeoutSeconds));
    if (!response) return {PassThroughOutcome::Failed, 0};
    return decodeScsi(*response, cmd.direction, data);
  }

 private:
  std::unique_ptr<Connection> connection_;
};

class CableHidDevice final : public HidDevice {
 public:
  explicit CableHidDevice(std::unique_ptr<Connection> connection) : connection_(std::move(connection)) {}

  std::optional<HidReportLengths> reportLengths() override {
    const auto description = describe(*connection_);
    if (!description || description->deviceClass != kClassHid) return std::nullopt;
    return description->lengths;
  }

  HidIoResult write(std::span<const uint8_t> report, int timeoutMs) override {
    const uint32_t timeout = static_cast<uint32_t>(std::max(timeoutMs, 0));
    const auto response = connection_->exchange(encodeHidWrite(timeout, report), hidResponseWaitMs(timeout));
    if (!response) return {HidIoOutcome::Failed, 0};
    return decodeHidWrite(*response);
  }

  HidIoResult read(std::span<uint8_t> report, int timeoutMs) override {
    const uint32_t timeout = static_cast<uint32_t>(std::max(timeoutMs, 0));
    const auto request = encodeHidRead(timeout, static_cast<uint32_t>(report.size()));
    const auto response = connection_->exchange(request, hidResponseWaitMs(timeout));
    if (!response) return {HidIoOutcome::Failed, 0};
    return decodeHidRead(*response, report);
  }

 private:
  std::unique_ptr<Connection> connection_;
};

}  // namespace

std::vector<uint8_t> encodeDescribe() { return {kDescribe}; }

std::vector<uint8_t> encodeScsi(const ScsiCommand& cmd, std::span<const uint8_t> data) {
  std::vector<uint8_t> out;
  out.reserve(1 + 1 + 16 + 1 + 4 + 4 + data.size());
  out.push_back(kScsi);
  out.push_back(cmd.cdbLength);
  out.insert(out.end(), cmd.cdb.begin(), cmd.cdb.end());
  out.push_back(cmd.direction == DataDirection::FromDevice ? 1 : 0);
  putU32(out, static_cast<uint32_t>(data.size()));
  putU32(out, cmd.timeoutSeconds);
  if (cmd.direction == DataDirection::ToDevice) out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::vector<uint8_t> encodeHidWrite(uint32_t timeoutMs, std::span<const uint8_t> report) {
  std::vector<uint8_t> out{kHidWrite};
  putU32(out, timeoutMs);
  out.insert(out.end(), report.begin(), report.end());
  return out;
}

std::vector<uint8_t> encodeHidRead(uint32_t timeoutMs, uint32_t reportLength) {
  std::vector<uint8_t> out{kHidRead};
  putU32(out, timeoutMs);
  putU32(out, reportLength);
  return out;
}

std::optional<Description> decodeDescribe(std::span<const uint8_t> response) {
  if (response.empty()) return std::nullopt;
  Description description;
  description.deviceClass = response[0];
  if (description.deviceClass == kClassMassStorage) return description;
  if (description.deviceClass != kClassHid || response.size() < 11) return std::nullopt;
  description.vendorId = getU16(response, 1);
  description.productId = getU16(response, 3);
  description.lengths = {getU16(response, 5), getU16(response, 7), getU16(response, 9)};
  return description;
}

PassThroughResult decodeScsi(std::span<const uint8_t> response, DataDirection direction,
                             std::span<uint8_t> data) {
  if (response.size() < 5) return {PassThroughOutcome::Failed, 0};
  const uint8_t result = response[0];
  const uint32_t transferred = getU32(response, 1);
  if (result == kResultRetryable) return {PassThroughOutcome::Retryable, 0};
  if (result != kResultDone || transferred > data.size()) return {PassThroughOutcome::Failed, 0};
  if (direction == DataDirection::FromDevice) {
    if (response.size() - 5 < transferred) return {PassThroughOutcome::Failed, 0};
    std::copy_n(response.begin() + 5, transferred, data.begin());
  }
  return {PassThroughOutcome::Done, transferred};
}

HidIoResult decodeHidWrite(std::span<const uint8_t> response) {
  if (response.size() < 5) return {HidIoOutcome::Failed, 0};
  const HidIoOutcome outcome = hidOutcome(response[0]);
  if (outcome != HidIoOutcome::Done) return {outcome, 0};
  return {outcome, getU32(response, 1)};
}

HidIoResult decodeHidRead(std::span<const uint8_t> response, std::span<uint8_t> report) {
  if (response.empty()) return {HidIoOutcome::Failed, 0};
  const HidIoOutcome outcome = hidOutcome(response[0]);
  if (outcome != HidIoOutcome::Done) return {outcome, 0};
  const size_t bytes = response.size() - 1;
  if (bytes > report.size()) return {HidIoOutcome::Failed, 0};
  std::copy(response.begin() + 1, response.end(), report.begin());
  return {HidIoOutcome::Done, bytes};
}

int scsiResponseWaitMs(uint32_t timeoutSeconds) {
  const uint64_t seconds = timeoutSeconds == 0 ? kDefaultScsiTimeoutSeconds : timeoutSeconds;
  return static_cast<int>(std::min<uint64_t>(seconds * 1000 + kResponseMarginMs, 1u << 30));
}

int hidResponseWaitMs(uint32_t timeoutMs) {
  return static_cast<int>(std::min<uint64_t>(uint64_t{timeoutMs} + kResponseMarginMs, 1u << 30));
}

std::vector<std::string> simulatorSockets(const char* variableValue) {
  std::vector<std::string> sockets;
  if (!variableValue) return sockets;
  std::string_view rest = variableValue;
  while (!rest.empty()) {
    const size_t colon = rest.find(':');
    const std::string_view entry = rest.substr(0, colon);
    if (!entry.empty()) sockets.emplace_back(entry);
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return sockets;
}

std::vector<std::string> listScsiDevices(ScsiDeviceClass deviceClass) {
  std::vector<std::string> paths;
  if (deviceClass != ScsiDeviceClass::Cdrom) return paths;  // simulators present a CD-ROM
  for (const auto& [socketPath, description] : describeAll()) {
    if (description.deviceClass == kClassMassStorage) paths.push_back(std::string(kPathPrefix) + socketPath);
  }
  return paths;
}

std::unique_ptr<ScsiDevice> openScsiDevice(const std::string& path) {
  auto connection = Connection::open(socketOf(path));
  if (!connection) return nullptr;
  return std::make_unique<CableScsiDevice>(std::move(connection));
}

std::vector<HidDeviceInfo> listHidDevices() {
  std::vector<HidDeviceInfo> devices;
  for (const auto& [socketPath, description] : describeAll()) {
    if (description.deviceClass != kClassHid) continue;
    devices.push_back({std::string(kPathPrefix) + socketPath, description.vendorId, description.productId});
  }
  return devices;
}

std::unique_ptr<HidDevice> openHidDevice(const std::string& path) {
  auto connection = Connection::open(socketOf(path));
  if (!connection) return nullptr;
  return std::make_unique<CableHidDevice>(std::move(connection));
}

}  // namespace fx60::platform::cable
