// The virtual cable: a simulated module reached over a Unix stream socket instead
// of the operating system's device. Each message, both ways, is a 32-bit
// little-endian byte count followed by that many bytes; every request gets exactly
// one response, in order.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/cable/connection.h"
#include "platform/cable/wire_codes.h"
#include "platform/hid_device.h"
#include "platform/scsi_device.h"

namespace fx60::platform::cable {

// Environment variable naming the simulators' sockets, separated by ':': Unix
// socket paths, or TCP ports on 127.0.0.1 (the only form on Windows).
inline constexpr const char* kSimulatorVariable = "FX60_SIMULATOR";

struct Description {
  uint8_t deviceClass = 0;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  HidReportLengths lengths;
};

std::vector<uint8_t> encodeDescribe();
// The data bytes follow only for a transfer to the device.
std::vector<uint8_t> encodeScsi(const ScsiCommand& cmd, std::span<const uint8_t> data);
std::vector<uint8_t> encodeHidWrite(uint32_t timeoutMs, std::span<const uint8_t> report);
std::vector<uint8_t> encodeHidRead(uint32_t timeoutMs, uint32_t reportLength);

std::optional<Description> decodeDescribe(std::span<const uint8_t> response);
// Copies the received bytes into data for a transfer from the device. A response
// that claims more than was asked for, or is cut short, is a failure.
PassThroughResult decodeScsi(std::span<const uint8_t> response, DataDirection direction,
                             std::span<uint8_t> data);
HidIoResult decodeHidWrite(std::span<const uint8_t> response);
HidIoResult decodeHidRead(std::span<const uint8_t> response, std::span<uint8_t> report);

// How long to wait for the answer to a request with the given time-out: the
// time-out itself plus a margin for the simulator's own work.
int scsiResponseWaitMs(uint32_t timeoutSeconds);
int hidResponseWaitMs(uint32_t timeoutMs);

// The socket paths of FX60_SIMULATOR, in order; empty entries are skipped.
std::vector<std::string> simulatorSockets(const char* variableValue);

}  // namespace fx60::platform::cable
