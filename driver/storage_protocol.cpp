#include "driver/storage_protocol.h"

#include <algorithm>

namespace fx60::storage {
namespace {

platform::ScsiCommand transferCommand(uint8_t operation, platform::DataDirection direction,
                                      uint32_t timeoutSeconds) {
  platform::ScsiCommand cmd;
  cmd.cdb[0] = operation;
  cmd.cdbLength = 10;
  cmd.direction = direction;
  cmd.timeoutSeconds = timeoutSeconds;
  return cmd;
}

}  // namespace

platform::ScsiCommand inquiryCommand() {
  platform::ScsiCommand cmd;
  cmd.cdb[0] = 0x12;
  cmd.cdb[4] = kInquiryLength;
  cmd.cdbLength = 6;
  cmd.direction = platform::DataDirection::FromDevice;
  cmd.timeoutSeconds = kInquiryTimeoutSeconds;
  return cmd;
}

platform::ScsiCommand write10Command(uint32_t timeoutSeconds) {
  return transferCommand(0x2A, platform::DataDirection::ToDevice, timeoutSeconds);
}

platform::ScsiCommand read10Command(uint32_t timeoutSeconds) {
  return transferCommand(0x28, platform::DataDirection::FromDevice, timeoutSeconds);
}

std::vector<uint8_t> buildCommandBlock(uint16_t code, std::span<const uint8_t> parameters) {
  std::vector<uint8_t> block;
  block.reserve(4 + parameters.size());
  const auto length = static_cast<uint16_t>(parameters.size());
  block.push_back(static_cast<uint8_t>(code));
  block.push_back(static_cast<uint8_t>(code >> 8));
  block.push_back(static_cast<uint8_t>(length));
  block.push_back(static_cast<uint8_t>(length >> 8));
  block.insert(block.end(), parameters.begin(), parameters.end());
  return block;
}

std::optional<ModuleResponse> parseResponse(std::span<const uint8_t> received) {
  if (received.size() < 2) return std::nullopt;
  ModuleResponse response;
  response.status = static_cast<uint16_t>(received[0] | received[1] << 8);
  if (received.size() >= 4) {
    response.dataLength = static_cast<uint16_t>(received[2] | received[3] << 8);
    response.data = received.subspan(4, std::min<size_t>(response.dataLength, received.size() - 4));
  }
  return response;
}

uint32_t passThroughSeconds(int timeoutValue) {
  if (timeoutValue <= 0) return 0;
  return std::max<uint32_t>(1, (static_cast<uint32_t>(timeoutValue) + 999) / 1000);
}

}  // namespace fx60::storage
