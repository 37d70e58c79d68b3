// The module on the mass-storage transport: discovery by INQUIRY identity among
// CD-ROM-class devices, the module's commands tunnelled in WRITE(10) and READ(10),
// and the capture procedure.
#pragma once

#include <cstdint>
#include <string_view>

#include "driver/driver_base.h"

namespace fx60 {

inline constexpr std::string_view kStorageModuleIdentity = "Fleetly Dermal Scanner  0100";

class CUsbBase final : public CDriverBase {
 public:
  // Looks among disk-class devices; the capture paths use FindStorageModules instead.
  int FindDevices(const DeviceIdentity& identity, int& count, PathTable& paths) override;
  // 0, or -1 when the device cannot be opened.
  int OpenDevice(const char* path, DeviceHandle& handle) override;
  // 0; -1 length 0; -2 the request failed; -3 still garbled after 100 attempts.
  int WriteData(DeviceHandle& handle, uint8_t opcode, const uint8_t* data, int length,
                int timeout) override;
  // 0 with length = bytes received; -1 negative time-out; -2 nothing received in time.
  int ReadData(DeviceHandle& handle, uint8_t opcode, uint8_t* buffer, int& length,
               int timeout) override;
};

CUsbBase& usbBase();

// Discovery into paths (devices of the CD-ROM class whose INQUIRY identity
// matches); returns the count, at most kMaxModules.
int FindStorageModules(std::string_view identity, PathTable& paths);
bool InquiryMatches(DeviceHandle& handle, std::string_view identity);
// 0; -10 index outside 0..15; -1 no module found; -2 open failed.
int OpenStorageModule(int index, DeviceHandle& handle);

// Module commands on an opened handle: 0 on success, -1 write failed, -2 read
// failed, or the command's own failure code.
int StorageSetIndicator(DeviceHandle& handle, int indicator, int state);
// Copies the text, at most 20 bytes, and terminates it (text needs 21 bytes).
int StorageGetVersion(DeviceHandle& handle, char* text);
// 0 a finger is on the sensor, -4 none.
int StorageDetectFinger(DeviceHandle& handle);
// 92160 bytes into image; -3 start refused, -4 a half refused or incomplete.
int StorageReadImage(DeviceHandle& handle, uint8_t* image);

// For the exports: 1 finger, 0 none, -1 the module failed to open.
int StorageDetectFingerAt(int index);
// The version query's status; text filled on success.
int StorageGetVersionAt(int index, char* text);

// The capture procedure; status codes of the capture paths.
int StorageCaptureImage(int index, uint8_t* image, int timeoutMs, int waitLift, int waitForFinger);

}  // namespace fx60
