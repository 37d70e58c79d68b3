#include "driver/hid_protocol.h"

#include <algorithm>

namespace fx60::hid {
namespace {

uint16_t checksum(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;
  for (uint8_t byte : bytes) sum += byte;
  return static_cast<uint16_t>(sum);
}

uint16_t getU16(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

}  // namespace

std::vector<uint8_t> buildRequest(uint8_t command, std::span<const uint8_t> payload) {
  const auto length = static_cast<uint16_t>(payload.size() + 1);
  std::vector<uint8_t> packet(payload.size() + kRequestOverhead, 0);
  packet[0] = kRequestHeader;
  packet[3] = static_cast<uint8_t>(length);
  packet[4] = static_cast<uint8_t>(length >> 8);
  packet[5] = command;
  std::copy(payload.begin(), payload.end(), packet.begin() + 6);
  const size_t checksumAt = 6 + payload.size();
  const uint16_t sum = checksum(std::span<const uint8_t>(packet).subspan(3, checksumAt - 3));
  packet[checksumAt] = static_cast<uint8_t>(sum);
  packet[checksumAt + 1] = static_cast<uint8_t>(sum >> 8);
  return packet;
}

std::optional<Response> parseResponse(std::span<const uint8_t> data) {
  if (data.size() < 8 || data[0] != kResponseHeader) return std::nullopt;
  const uint16_t m = getU16(data, 3);
  // The status byte counts in m; a length of 0 is read as the bare status.
  const size_t payloadLength = m == 0 ? 0 : m - 1u;
  const size_t checksumAt = 6 + payloadLength;
  if (checksumAt + 2 > data.size()) return std::nullopt;
  if (checksum(data.subspan(3, checksumAt - 3)) != getU16(data, checksumAt)) return std::nullopt;
  return Response{data[5], data.subspan(6, payloadLength)};
}

std::optional<ImageSize> parseImageSize(std::span<const uint8_t> payload) {
  if (payload.size() < 6) return std::nullopt;
  return ImageSize{getU16(payload, 2), getU16(payload, 4)};
}

}  // namespace fx60::hid
