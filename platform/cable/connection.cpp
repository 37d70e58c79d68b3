#include "platform/cable/connection.h"

#include <algorithm>
#include <chrono>

#include "platform/cable/stream_socket.h"
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
  int error = 0;
  const SocketHandle socket = connectSocket(socketPath, &error);
  if (socket == kNoSocket) {
    logDeviceEvent({DeviceEvent::Kind::OpenFailed, socketPath, kSimulatorSocketDetail, error});
    return nullptr;
  }
  return std::unique_ptr<Connection>(new Connection(socket));
}

Connection::~Connection() { drop(); }

void Connection::drop() {
  closeSocket(socket_);
  socket_ = kNoSocket;
  received_.clear();
  consumed_ = 0;
}

bool Connection::receiveSome(int64_t deadlineMs) {
  received_.resize(kReceiveChunk);
  consumed_ = 0;
  const auto spinUntil = std::chrono::steady_clock::now() + kAnswerSpin;
  for (;;) {
    // Most answers are already there: try first, wait only when nothing is.
    size_t got = 0;
    const ReceiveResult result = receiveNow(socket_, received_.data(), received_.size(), &got);
    if (result == ReceiveResult::Received) {
      received_.resize(got);
      return true;
    }
    if (result == ReceiveResult::Closed) break;  // closed by the simulator: unplugged
    if (std::chrono::steady_clock::now() < spinUntil) continue;
    const int64_t left = deadlineMs - monotonicMs();
    if (left < 0 || !waitReadable(socket_, static_cast<int>(std::min<int64_t>(left, 1 << 30)))) break;
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
  if (socket_ == kNoSocket || request.size() > kMaxMessageBytes) return std::nullopt;
  std::vector<uint8_t> framed(4 + request.size());
  const uint32_t size = static_cast<uint32_t>(request.size());
  for (int i = 0; i < 4; ++i) framed[i] = static_cast<uint8_t>(size >> (8 * i));
  std::copy(request.begin(), request.end(), framed.begin() + 4);
  if (!sendAll(socket_, framed.data(), framed.size())) {
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
