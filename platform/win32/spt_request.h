// Building SCSI pass-through requests and judging their outcome; kept apart from
// DeviceIoControl so that both can be checked without a device.
#pragma once

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <cstdint>
#include <span>

#include "platform/scsi_device.h"

namespace fx60::platform::os {

// The request and the sense buffer the system fills after it, in one block.
struct SptRequest {
  SCSI_PASS_THROUGH_DIRECT header;
  ULONG align;
  UCHAR sense[32];
};

// A pass-through time-out of 0 stands for this many seconds.
inline constexpr uint32_t kDefaultSptTimeoutSeconds = 60;

// The request for cmd over data; it points at data, which must outlive it.
SptRequest buildSptRequest(const ScsiCommand& cmd, std::span<uint8_t> data);

// Outcome of a finished request: whether DeviceIoControl succeeded, its last
// error, and the request after the call. ERROR_CRC, a garbled transfer on the
// bus, is worth repeating; any other failure, and a device that answered with a
// status other than GOOD, is not.
PassThroughResult judgeSpt(bool succeeded, DWORD lastError, const SptRequest& request, size_t dataSize);

}  // namespace fx60::platform::os
