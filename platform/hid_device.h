// HID devices: discovery by vendor and product id, report lengths, and report
// reads and writes with time-outs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace fx60::platform {

struct HidDeviceInfo {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
};

// Report byte lengths including the report id byte (0 when the device has no
// report of that kind).
struct HidReportLengths {
  uint16_t input = 0;
  uint16_t output = 0;
  uint16_t feature = 0;
};

enum class HidIoOutcome { Done, Failed, TimedOut };

struct HidIoResult {
  HidIoOutcome outcome = HidIoOutcome::Failed;
  size_t bytes = 0;  // bytes transferred, report id byte included
};

class HidDevice {
 public:
  virtual ~HidDevice() = default;
  virtual std::optional<HidReportLengths> reportLengths() = 0;
  // One report, report id byte first. A time-out leaves nothing pending: a later
  // read never returns data meant for an abandoned one.
  virtual HidIoResult write(std::span<const uint8_t> report, int timeoutMs) = 0;
  virtual HidIoResult read(std::span<uint8_t> report, int timeoutMs) = 0;
};

// Present HID devices: real devices first, then the simulated ones of HID mode
// named by FX60_SIMULATOR.
std::vector<HidDeviceInfo> listHidDevices();

// Null when the device cannot be opened.
std::unique_ptr<HidDevice> openHidDevice(const std::string& path);

}  // namespace fx60::platform
