// One connection to a simulator over a stream socket (see stream_socket.h). Each
// message, both ways, is a 32-bit little-endian byte count followed by that many
// bytes; every request gets exactly one response, in order.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/cable/stream_socket.h"

namespace fx60::platform::cable {

// Longest message accepted from a simulator; anything longer means the stream is
// corrupt.
inline constexpr uint32_t kMaxMessageBytes = 1u << 20;

// One connection to a simulator. Once an exchange fails (unreachable, dropped,
// no answer in time, malformed), the connection is closed for good: every later
// exchange fails, as with an unplugged device.
class Connection {
 public:
  static std::unique_ptr<Connection> open(const std::string& socketPath);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  std::optional<std::vector<uint8_t>> exchange(std::span<const uint8_t> request, int responseWaitMs);
  bool broken() const { return socket_ == kNoSocket; }

 private:
  explicit Connection(SocketHandle socket) : socket_(socket) {}
  static constexpr size_t kReceiveChunk = 1 << 16;
  void drop();
  bool receiveAll(uint8_t* bytes, size_t count, int64_t deadlineMs);
  // Reads whatever has arrived (waiting until deadlineMs for something) into received_.
  bool receiveSome(int64_t deadlineMs);

  SocketHandle socket_;
  std::vector<uint8_t> received_;  // arrived but not yet consumed: received_[consumed_..]
  size_t consumed_ = 0;
};

}  // namespace fx60::platform::cable
