#include "platform/cable/stream_socket.h"

#include <charconv>

namespace fx60::platform::cable {

std::optional<uint16_t> loopbackPort(const std::string& address) {
  if (address.empty() || address.size() > 5) return std::nullopt;
  unsigned port = 0;
  const auto [end, ec] = std::from_chars(address.data(), address.data() + address.size(), port);
  if (ec != std::errc() || end != address.data() + address.size() || port == 0 || port > 65535)
    return std::nullopt;
  return static_cast<uint16_t>(port);
}

}  // namespace fx60::platform::cable
