// Builds virtual-cable requests and reads their replies, for driving the
// simulated module directly in tests.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sim/byte_order.h"
#include "sim/simulated_module.h"

namespace fx60::sim::testing {

inline std::vector<uint8_t> scsiRequest(std::vector<uint8_t> cdb, bool dataIn, uint32_t transferLength,
                                        uint32_t timeoutSeconds, std::span<const uint8_t> data = {}) {
  std::vector<uint8_t> request{wire::kScsi, static_cast<uint8_t>(cdb.size())};
  cdb.resize(16, 0);
  request.insert(request.end(), cdb.begin(), cdb.end());
  request.push_back(dataIn ? 1 : 0);
  appendU32(request, transferLength);
  appendU32(request, timeoutSeconds);
  request.insert(request.end(), data.begin(), data.end());
  return request;
}

// A command block in a zeroed buffer of at least 32 bytes, as WRITE(10) carries it.
inline std::vector<uint8_t> commandBlock(uint16_t code, std::vector<uint8_t> params = {}) {
  std::vector<uint8_t> block;
  appendU16(block, code);
  appendU16(block, static_cast<uint16_t>(params.size()));
  block.insert(block.end(), params.begin(), params.end());
  if (block.size() < 32) block.resize(32, 0);
  return block;
}

inline std::vector<uint8_t> write10(std::span<const uint8_t> block, uint32_t timeoutSeconds = 10) {
  return scsiRequest({0x2A}, false, static_cast<uint32_t>(block.size()), timeoutSeconds, block);
}

inline std::vector<uint8_t> read10(uint32_t length, uint32_t timeoutSeconds = 10) {
  return scsiRequest({0x28}, true, length, timeoutSeconds);
}

// The HID request packet for a command, with its checksum.
inline std::vector<uint8_t> hidPacket(uint8_t command, std::vector<uint8_t> payload = {}) {
  std::vector<uint8_t> packet{0x88, 0, 0};
  appendU16(packet, static_cast<uint16_t>(payload.size() + 1));
  packet.push_back(command);
  packet.insert(packet.end(), payload.begin(), payload.end());
  unsigned sum = 0;
  for (size_t i = 3; i < packet.size(); ++i) sum += packet[i];
  appendU16(packet, static_cast<uint16_t>(sum));
  return packet;
}

inline std::vector<uint8_t> hidWrite(std::span<const uint8_t> packet, size_t reportLength = 65) {
  std::vector<uint8_t> request{wire::kHidWrite};
  appendU32(request, 200);
  std::vector<uint8_t> report(reportLength, 0);
  std::copy(packet.begin(), packet.end(), report.begin() + 1);
  request.insert(request.end(), report.begin(), report.end());
  return request;
}

inline std::vector<uint8_t> hidRead(uint32_t timeoutMs = 1000, uint32_t reportLength = 65) {
  std::vector<uint8_t> request{wire::kHidRead};
  appendU32(request, timeoutMs);
  appendU32(request, reportLength);
  return request;
}

}  // namespace fx60::sim::testing
