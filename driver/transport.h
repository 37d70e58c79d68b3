// What the exports need of a device transport, and the choice between the two.
#pragma once

#include <cstdint>

#include "driver/status.h"

namespace fx60 {

enum class TransportKind { Hid, Storage };

// One way of reaching the module (mass storage or HID). Each operation discovers,
// opens and closes the module itself.
class CaptureTransport {
 public:
  virtual ~CaptureTransport() = default;

  // True when discovery finds at least one module on this transport.
  virtual bool discover() = 0;

  // Module version query; copies the terminated text into buffer on success.
  virtual CommandStatus getVersion(int deviceIndex, char* buffer) = 0;

  // Absent also when no module answers; OpenFailed when the module failed to open.
  virtual FingerState detectFinger(int deviceIndex) = 0;

  virtual CaptureStatus captureImage(int deviceIndex, uint8_t* image, int timeoutMs, int waitLift,
                                     int waitForFinger) = 0;
};

// The two transports the library knows. Either may be absent (null).
struct TransportSet {
  CaptureTransport* storage = nullptr;
  CaptureTransport* hid = nullptr;
};

// The transports registered for this process. The device layer registers the real
// ones at load; tests may install fakes.
TransportSet& registeredTransports();

// Mass storage when a module answers there, else HID when one answers there, else null.
CaptureTransport* SelectTransport();

}  // namespace fx60
