// The module on the HID transport: discovery by vendor and product id, framed
// request and response packets in fixed-length reports, the chunked image
// read-out, and the capture procedure. Every device index uses the first module.
#pragma once

#include <atomic>
#include <cstdint>

#include "driver/driver_base.h"
#include "driver/hid_protocol.h"

namespace fx60 {

class CHidBase final : public CDriverBase {
 public:
  // 0; count = matching modules (at most kMaxModules).
  int FindDevices(const DeviceIdentity& identity, int& count, PathTable& paths) override;
  // 0; -3 the open failed; -4 the report lengths are unknown (handle stays open).
  int OpenDevice(const char* path, DeviceHandle& handle) override;
  // Sends data as one report. 0; -2 no handle, failed or not done in time;
  // -3 data longer than a report holds; -4 a partial report went out.
  int WriteData(DeviceHandle& handle, uint8_t opcode, const uint8_t* data, int length,
                int timeout) override;
  // One report's data bytes (input length - 1) into buffer. 0; -10 no handle;
  // -9 failed; -3 time-out; -12 a partial report came in.
  int ReadData(DeviceHandle& handle, uint8_t opcode, uint8_t* buffer, int& length,
               int timeout) override;

  // Report lengths of the module opened last. Every report, written or read, is
  // inputLength long; the output length is kept but sizes nothing.
  uint16_t inputLength() const { return input_; }
  uint16_t outputLength() const { return output_; }
  uint16_t featureLength() const { return feature_; }

 private:
  std::atomic<uint16_t> input_{hid::kDefaultReportLength};
  std::atomic<uint16_t> output_{hid::kDefaultReportLength};
  std::atomic<uint16_t> feature_{hid::kDefaultReportLength};
};

CHidBase& hidBase();

// Packet level on an opened handle.
int HidSendPacket(DeviceHandle& handle, uint8_t command, const uint8_t* payload, int n);
// 0 with capacity = payload length (payload copied and status set when it fits);
// -11 bad header, length or checksum; else ReadData's error.
int HidReceivePacket(DeviceHandle& handle, uint8_t* payload, int& capacity, uint8_t& status);
// 0; -8 send failed; -9 receive failed; -10 no handle; -11 the module refused.
int HidTransact(DeviceHandle& handle, uint8_t command, const uint8_t* payload, int n, uint8_t* out,
                int capacity);

// Opens the first module and says hello: 0, -2 open failed, -3 refused.
int HidConnect(DeviceHandle& handle);
void HidDisconnect(DeviceHandle& handle);

int HidSetIndicator(DeviceHandle& handle, int indicator, int state);
// 0 a finger is on the sensor.
int HidDetectFinger(DeviceHandle& handle);
// 0 with the image in image (92160 bytes); -8 request failed; -9 read-out failed
// or a size other than 256 x 360 announced.
int HidReadImage(DeviceHandle& handle, uint8_t* image, int& total, int& width, int& height);

// For the exports: 1 finger, 0 none, -1 the module failed to open.
int HidDetectFingerNow();
// The version query's status; on success text holds the terminated text (at
// most 63 bytes of it).
int HidGetVersionNow(char* text);

int HidCaptureImage(int index, uint8_t* image, int timeoutMs, int waitLift, int waitForFinger);

}  // namespace fx60
