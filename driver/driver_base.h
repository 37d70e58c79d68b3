// The common base of the two device transports: five operations in a fixed slot
// order, and the device handle they pass around.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "driver/status.h"
#include "platform/hid_device.h"
#include "platform/scsi_device.h"

namespace fx60 {

// Discovery records at most this many modules; further matches are ignored.
inline constexpr int kMaxModules = 16;
inline constexpr int kDevicePathSize = 260;

using DevicePath = std::array<char, kDevicePathSize>;  // NUL-terminated
using PathTable = std::array<DevicePath, kMaxModules>;

// What a transport's discovery looks for: the INQUIRY identity on mass storage,
// vendor and product id on HID.
struct DeviceIdentity {
  std::string_view inquiry;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
};

// An opened device of either transport; empty when nothing is open.
struct DeviceHandle {
  std::unique_ptr<platform::ScsiDevice> scsi;
  std::unique_ptr<platform::HidDevice> hid;
  // HID: the report lengths the opened device states. Every report, written or read,
  // is `input` long; the output length is kept but sizes nothing.
  platform::HidReportLengths reportLengths;

  bool valid() const { return scsi != nullptr || hid != nullptr; }
};

// Opcodes every caller passes to WriteData and ReadData; neither transport uses them.
inline constexpr uint8_t kWriteOpcode = 0x2A;
inline constexpr uint8_t kReadOpcode = 0x28;

class CDriverBase {
 public:
  // Discovery into paths; returns the number of modules found (at most kMaxModules).
  virtual int FindDevices(const DeviceIdentity& identity, PathTable& paths) = 0;
  virtual OpenStatus OpenDevice(const char* path, DeviceHandle& handle) = 0;
  virtual IoStatus WriteData(DeviceHandle& handle, uint8_t opcode, const uint8_t* data, int length, int timeout) = 0;
  virtual IoStatus ReadData(DeviceHandle& handle, uint8_t opcode, uint8_t* buffer, int& length, int timeout) = 0;
  // Closes the handle; 0.
  virtual int CloseDevice(DeviceHandle& handle);

 protected:
  CDriverBase() = default;
  ~CDriverBase() = default;
};

// Copies path into entry, NUL-terminated; false when it does not fit.
bool storePath(DevicePath& entry, std::string_view path);

}  // namespace fx60
