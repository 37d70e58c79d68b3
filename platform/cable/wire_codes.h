// The byte values of the virtual cable: request opcodes, device classes and result
// bytes. Both ends use this one header: the library's virtual cable and the
// simulators that answer it.
#pragma once

#include <cstdint>

namespace fx60::platform::cable {

enum Opcode : uint8_t { kDescribe = 0x01, kScsi = 0x02, kHidWrite = 0x03, kHidRead = 0x04 };

// The first byte of a DESCRIBE response.
enum ClassCode : uint8_t { kClassMassStorage = 1, kClassHid = 2 };

// The first byte of a SCSI, HID_WRITE or HID_READ response. kResultRetryable is a
// transport (CRC-class) error on the bus: repeating the same request may succeed.
enum ResultCode : uint8_t { kResultDone = 0, kResultRetryable = 1, kResultFailed = 2, kResultTimedOut = 3 };

}  // namespace fx60::platform::cable
