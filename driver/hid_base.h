// The module on the HID transport: discovery by vendor and product id, framed
// request and response packets in fixed-length reports, the chunked image
// read-out, and the capture procedure. Every device index uses the first module.
#pragma once

#include <cstdint>

#include "driver/driver_base.h"
#include "driver/hid_protocol.h"

namespace fx60 {

class CHidBase final : public CDriverBase {
 public:
  // The number of matching modules (at most kMaxModules).
  int FindDevices(const DeviceIdentity& identity, PathTable& paths) override;
  // Opened; Failed; NoReportLengths when the device does not state usable report
  // lengths (the handle stays open). The lengths go with the handle.
  OpenStatus OpenDevice(const char* path, DeviceHandle& handle) override;
  // Sends data as one report of the handle's input length. Done; NoDevice; TooLong
  // for more data than a report holds; Failed, or TimedOut when not done in time;
  // Partial when a partial report went out.
  IoStatus WriteData(DeviceHandle& handle, uint8_t opcode, const uint8_t* data, int length, int timeout) override;
  // One report's data bytes (input length - 1) into buffer. Done; NoDevice; Failed;
  // TimedOut; Partial when a partial report came in.
  IoStatus ReadData(DeviceHandle& handle, uint8_t opcode, uint8_t* buffer, int& length, int timeout) override;
};

CHidBase& hidBase();

// Packet level on an opened handle.
IoStatus HidSendPacket(DeviceHandle& handle, uint8_t command, const uint8_t* payload, int n);
// Done with capacity = payload length (payload copied and status set when it fits);
// ReceiveFailed when no report or a malformed packet came in.
CommandStatus HidReceivePacket(DeviceHandle& handle, uint8_t* payload, int& capacity, uint8_t& status);
CommandStatus HidTransact(DeviceHandle& handle, uint8_t command, const uint8_t* payload, int n, uint8_t* out,
                          int capacity);

// Opens the first module and says hello: Connected, OpenFailed or Refused.
ConnectStatus HidConnect(DeviceHandle& handle);
void HidDisconnect(DeviceHandle& handle);

CommandStatus HidSetIndicator(DeviceHandle& handle, int indicator, int state);
// Done: a finger is on the sensor.
CommandStatus HidDetectFinger(DeviceHandle& handle);
// Done with the image in image (92160 bytes); SendFailed; ReceiveFailed when the
// read-out failed or a size other than 256 x 360 was announced.
CommandStatus HidReadImage(DeviceHandle& handle, uint8_t* image, int& total, int& width, int& height);

// For the exports: connect, ask, disconnect.
FingerState hidFingerState();
// NoDevice when the module did not connect; on success text holds the terminated text
// (at most 63 bytes of it).
CommandStatus hidVersion(char* text);

CaptureStatus HidCaptureImage(int index, uint8_t* image, int timeoutMs, int waitLift, int waitForFinger);

}  // namespace fx60
