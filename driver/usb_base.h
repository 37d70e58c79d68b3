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
  int FindDevices(const DeviceIdentity& identity, PathTable& paths) override;
  // Opened or Failed.
  OpenStatus OpenDevice(const char* path, DeviceHandle& handle) override;
  // Done; BadRequest for nothing to send; NoDevice; Failed; StillGarbled after 100
  // attempts that all met a transport error.
  IoStatus WriteData(DeviceHandle& handle, uint8_t opcode, const uint8_t* data, int length, int timeout) override;
  // Done with length = bytes received; BadRequest for a negative time-out; NoDevice;
  // TimedOut when nothing came back within the time.
  IoStatus ReadData(DeviceHandle& handle, uint8_t opcode, uint8_t* buffer, int& length, int timeout) override;
};

CUsbBase& usbBase();

// Discovery into paths (devices of the CD-ROM class whose INQUIRY identity
// matches); returns the count, at most kMaxModules.
int FindStorageModules(std::string_view identity, PathTable& paths);
bool InquiryMatches(DeviceHandle& handle, std::string_view identity);
// The index-th module found, opened.
ConnectStatus OpenStorageModule(int index, DeviceHandle& handle);

// Module commands on an opened handle: Done, SendFailed, ReceiveFailed, or Refused
// when the module answers with a failure status.
CommandStatus StorageSetIndicator(DeviceHandle& handle, int indicator, int state);
// Copies the text, at most 20 bytes, and terminates it (text needs 21 bytes).
CommandStatus StorageGetVersion(DeviceHandle& handle, char* text);
// Done: a finger is on the sensor; Refused: none.
CommandStatus StorageDetectFinger(DeviceHandle& handle);
// 92160 bytes into image; Refused when the module refuses the start or a half,
// ReceiveFailed when a half arrives incomplete or misannounced.
CommandStatus StorageReadImage(DeviceHandle& handle, uint8_t* image);

// For the exports: open the index-th module, ask, close.
FingerState storageFingerState(int index);
// NoDevice when the module did not open; text filled on success.
CommandStatus storageVersion(int index, char* text);

// The capture procedure.
CaptureStatus StorageCaptureImage(int index, uint8_t* image, int timeoutMs, int waitLift, int waitForFinger);

}  // namespace fx60
