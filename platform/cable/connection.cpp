#include "platform/cable/connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/clock.h"
#include "platform/device_log.h"

namespace fx60::platform::cable {
namespace {

// The simulator usually answers within microseconds. Checking the socket for this
// long before sleeping in poll saves the wake-up of a sleeping thread on every
// report, which dominates an image read of over a thousand reports.
constexpr auto kAnswerSpin = std::chrono::microseconds(200);

uint32_t getU32(const uint8_t* in) {
  return uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16 | uint32_t{in[3]} << 24;
}

}  // namespace

std::unique_ptr<Connection> Connection::open(const std::string& socketPath) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) {
    logDeviceEvent({DeviceEvent::Kind::OpenFailed, socketPath, "not a usable socket path", 0});
    return nullptr;
  }
  std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    logDeviceEvent({DeviceEvent::Kind::OpenFailed, socketPath, kSimulatorSocketDetail, error});
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
  const uint32_t responseSize = getU32(header);
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

}  // namespace fx60::platform::cable
