// SCSI pass-through to a device of the CD-ROM (or disk) class: discovery of the
// device nodes and one blocking request at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace fx60::platform {

enum class ScsiDeviceClass { Cdrom, Disk };

enum class DataDirection : uint8_t { ToDevice = 0, FromDevice = 1 };

// How one pass-through ended. Retryable is the transport error class (a garbled
// transfer on the bus) for which repeating the same request is worthwhile.
enum class PassThroughOutcome { Done, Retryable, Failed };

struct ScsiCommand {
  std::array<uint8_t, 16> cdb{};  // unused bytes stay 0
  uint8_t cdbLength = 0;
  DataDirection direction = DataDirection::FromDevice;
  uint32_t timeoutSeconds = 0;  // 0: the system's default
};

struct PassThroughResult {
  PassThroughOutcome outcome = PassThroughOutcome::Failed;
  uint32_t bytesTransferred = 0;  // never more than the data span
};

class ScsiDevice {
 public:
  virtual ~ScsiDevice() = default;
  // Sends cmd with data (written for ToDevice, filled for FromDevice; its size is
  // the transfer length).
  virtual PassThroughResult passThrough(const ScsiCommand& cmd, std::span<uint8_t> data) = 0;
};

// Paths of the present devices of the class: real devices first, then the
// simulated modules named by FX60_SIMULATOR that present this class.
std::vector<std::string> listScsiDevices(ScsiDeviceClass deviceClass);

// Null when the device cannot be opened.
std::unique_ptr<ScsiDevice> openScsiDevice(const std::string& path);

}  // namespace fx60::platform
