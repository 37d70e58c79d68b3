// The module's packet protocol on the HID transport: request packets and the
// checks on response packets. Pure data building and parsing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace fx60::hid {

inline constexpr uint16_t kVendorId = 0x821B;
inline constexpr uint16_t kProductId = 0x0202;
// Report lengths assumed until a module has been opened.
inline constexpr uint16_t kDefaultReportLength = 65;

inline constexpr uint8_t kRequestHeader = 0x88;
inline constexpr uint8_t kResponseHeader = 0xAA;
// Header (5 bytes), command, checksum (2 bytes).
inline constexpr size_t kRequestOverhead = 8;

// Commands.
inline constexpr uint8_t kSetIndicator = 2;
inline constexpr uint8_t kConnect = 8;
inline constexpr uint8_t kDetectFinger = 9;
inline constexpr uint8_t kDisconnect = 12;
inline constexpr uint8_t kGetVersion = 13;
inline constexpr uint8_t kReadImage = 0x45;

inline constexpr uint16_t kImageWidth = 256;
inline constexpr uint16_t kImageHeight = 360;
inline constexpr size_t kCollectionBufferSize = 102400;

// 88 00 00, n + 1, command, payload, checksum of the bytes from the length on.
std::vector<uint8_t> buildRequest(uint8_t command, std::span<const uint8_t> payload);

struct Response {
  uint8_t status = 0xFF;
  std::span<const uint8_t> payload;
};

// Checks the header byte, that the stated length fits in data, and the checksum.
std::optional<Response> parseResponse(std::span<const uint8_t> data);

// Width and height from a read-image response payload (bytes 2..5); empty when
// the payload is too short.
struct ImageSize {
  uint16_t width = 0;
  uint16_t height = 0;
};
std::optional<ImageSize> parseImageSize(std::span<const uint8_t> payload);

}  // namespace fx60::hid
