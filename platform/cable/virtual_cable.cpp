#include "platform/cable/virtual_cable.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "platform/device_backends.h"

namespace fx60::platform::cable {
namespace {

// Margin on top of a request's own time-out before a silent simulator counts as
// gone, and the wait for a DESCRIBE answer.
constexpr int kResponseMarginMs = 2000;
constexpr int kDescribeWaitMs = 2000;
// A pass-through time-out of 0 means the system default, 60 seconds on Linux.
constexpr uint32_t kDefaultScsiTimeoutSeconds = 60;
// The simulator usually answers within microseconds. Checking the socket for this
// long before sleeping in poll saves the wake-up of a sleeping thread on every
// report, which dominates an image read of over a thousand reports.
constexpr auto kAnswerSpin = std::chrono::microseconds(200);

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
    if (auto description = describe(*connection)) found.emplace_back(socketPath, *description);
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
  if (result == kResultCrcError) return {PassThroughOutcome::Retryable, 0};
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

std::unique_ptr<Connection> Connection::open(const std::string& socketPath) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) return nullptr;
  std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<Connection>(new Connection(fd));
}

Connection::~Connection() { drop(); }

void Connection::drop() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  received_.clear();
  consumed_ = 0;
}

bool Connection::sendAll(const uint8_t* bytes, size_t count) {
  while (count > 0) {
    const ssize_t sent = ::send(fd_, bytes, count, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes += sent;
    count -= static_cast<size_t>(sent);
  }
  return true;
}

bool Connection::receiveSome(int64_t deadlineMs) {
  received_.resize(kReceiveChunk);
  consumed_ = 0;
  const auto spinUntil = std::chrono::steady_clock::now() + kAnswerSpin;
  for (;;) {
    // Most answers are already there: try first, wait only when nothing is.
    const ssize_t got = ::recv(fd_, received_.data(), received_.size(), MSG_DONTWAIT);
    if (got > 0) {
      received_.resize(static_cast<size_t>(got));
      return true;
    }
    if (got == 0) break;  // closed by the simulator: unplugged
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) break;
    if (std::chrono::steady_clock::now() < spinUntil) continue;
    const int64_t left = deadlineMs - monotonicMs();
    if (left < 0) break;
    pollfd entry{fd_, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(std::min<int64_t>(left, 1 << 30)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
  }
  received_.clear();
  return false;
}

bool Connection::receiveAll(uint8_t* bytes, size_t count, int64_t deadlineMs) {
  while (count > 0) {
    if (consumed_ == received_.size() && !receiveSome(deadlineMs)) return false;
    const size_t take = std::min(count, received_.size() - consumed_);
    std::copy_n(received_.begin() + static_cast<std::ptrdiff_t>(consumed_), take, bytes);
    consumed_ += take;
    bytes += take;
    count -= take;
  }
  return true;
}

std::optional<std::vector<uint8_t>> Connection::exchange(std::span<const uint8_t> request,
                                                         int responseWaitMs) {
  if (fd_ < 0 || request.size() > kMaxMessageBytes) return std::nullopt;
  std::vector<uint8_t> framed(4 + request.size());
  const uint32_t size = static_cast<uint32_t>(request.size());
  for (int i = 0; i < 4; ++i) framed[i] = static_cast<uint8_t>(size >> (8 * i));
  std::copy(request.begin(), request.end(), framed.begin() + 4);
  if (!sendAll(framed.data(), framed.size())) {
    drop();
    return std::nullopt;
  }
  const int64_t deadline = monotonicMs() + std::max(responseWaitMs, 0);
  uint8_t header[4];
  if (!receiveAll(header, 4, deadline)) {
    drop();
    return std::nullopt;
  }
  const uint32_t responseSize = getU32(header, 0);
  if (responseSize > kMaxMessageBytes) {
    drop();
    return std::nullopt;
  }
  std::vector<uint8_t> response(responseSize);
  if (!receiveAll(response.data(), response.size(), deadline)) {
    drop();
    return std::nullopt;
  }
  return response;
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
