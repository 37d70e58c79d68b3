// The module's command protocol on the mass-storage transport: SCSI requests
// that carry it, command blocks and responses. Pure data building and parsing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/scsi_device.h"

namespace fx60::storage {

// Pass-through time-outs, in seconds, and the INQUIRY transfer.
inline constexpr uint32_t kInquiryTimeoutSeconds = 10;
inline constexpr uint32_t kInquiryLength = 36;
inline constexpr size_t kInquiryBufferSize = 512;
// Bytes 8..34 of the INQUIRY data: vendor, product, three of four revision characters.
inline constexpr size_t kInquiryIdentityOffset = 8;

// Command blocks are written with at least this many bytes.
inline constexpr int kMinimumWriteLength = 32;
// Size of the command and response working buffers.
inline constexpr size_t kWorkingBufferSize = 93184;

inline constexpr uint16_t kStatusSuccess = 0x3000;

// Module commands.
inline constexpr uint16_t kSetIndicator = 0xF008;
inline constexpr uint16_t kGetVersion = 0xE003;
inline constexpr uint16_t kDetectFinger = 0xE010;
inline constexpr uint16_t kStartImage = 0xE011;
inline constexpr uint16_t kReadImageHalf = 0xE013;

inline constexpr uint8_t kFirstHalf = 0x00;
inline constexpr uint8_t kSecondHalf = 0xFF;
inline constexpr size_t kImageHalfBytes = 46080;
inline constexpr int kImageHalfReadLength = 46084;
// The version response holds at most this many bytes of text (read length 24).
inline constexpr size_t kMaxVersionText = 20;

platform::ScsiCommand inquiryCommand();
platform::ScsiCommand write10Command(uint32_t timeoutSeconds);
platform::ScsiCommand read10Command(uint32_t timeoutSeconds);

// u16 code, u16 parameter length, parameters (little-endian).
std::vector<uint8_t> buildCommandBlock(uint16_t code, std::span<const uint8_t> parameters);

struct ModuleResponse {
  uint16_t status = 0;
  uint16_t dataLength = 0;
  std::span<const uint8_t> data;  // what was received after the header, at most dataLength
};

// Parses the received bytes of a response; empty when even the status is missing.
std::optional<ModuleResponse> parseResponse(std::span<const uint8_t> received);

// The pass-through time-out for a command's time-out value. The value is the
// read's retry budget in milliseconds; taken as seconds it would let one request
// to a stalled module block for over an hour. Rounded up to whole seconds, at
// least one.
uint32_t passThroughSeconds(int timeoutValue);

}  // namespace fx60::storage
