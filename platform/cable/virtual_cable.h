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

#include "platform/hid_device.h"
#include "platform/scsi_device.h"

namespace fx60::platform::cable {

// Environment variable naming the simulators' sockets, separated by ':'.
inline constexpr const char* kSimulatorVariable = "FX60_SIMULATOR";

enum Opcode : uint8_t { kDescribe = 0x01, kScsi = 0x02, kHidWrite = 0x03, kHidRead = 0x04 };
enum ClassCode : uint8_t { kClassMassStorage = 1, kClassHid = 2 };
enum ResultCode : uint8_t { kResultDone = 0, kResultCrcError = 1, kResultFailed = 2, kResultTimedOut = 3 };

// Longest message accepted from a simulator; anything longer means the stream is
// corrupt.
inline constexpr uint32_t kMaxMessageBytes = 1u << 20;

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
  bool broken() const { return fd_ < 0; }

 private:
  explicit Connection(int fd) : fd_(fd) {}
  static constexpr size_t kReceiveChunk = 1 << 16;
  void drop();
  bool sendAll(const uint8_t* bytes, size_t count);
  bool receiveAll(uint8_t* bytes, size_t count, int64_t deadlineMs);
  // Reads whatever has arrived (waiting until deadlineMs for something) into received_.
  bool receiveSome(int64_t deadlineMs);

  int fd_;
  std::vector<uint8_t> received_;  // arrived but not yet consumed: received_[consumed_..]
  size_t consumed_ = 0;
};

// The socket paths of FX60_SIMULATOR, in order; empty entries are skipped.
std::vector<std::string> simulatorSockets(const char* variableValue);

}  // namespace fx60::platform::cable
