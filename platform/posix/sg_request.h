// Building SG_IO requests and judging their outcome; kept apart from the ioctl so
// that both can be checked without a device.
#pragma once

#include <scsi/sg.h>

#include <cstdint>
#include <span>
#include <string>

#include "platform/scsi_device.h"

namespace fx60::platform::os {

// The sg_io_hdr for cmd over data. The header points at cmd.cdb and data, which
// must outlive it. The time-out is in milliseconds: seconds x 1000, saturating.
sg_io_hdr_t buildSgIoHeader(const ScsiCommand& cmd, std::span<uint8_t> data);

// Outcome of a finished request. ioctlResult and ioctlErrno are those of the ioctl
// call; hdr is the header after it.
PassThroughResult judgeSgIo(int ioctlResult, int ioctlErrno, const sg_io_hdr_t& hdr);

// The status fields of a request that did not end well, in a few words for the log.
std::string sgIoSummary(int ioctlResult, const sg_io_hdr_t& hdr);

// True when a sysfs "type" file's text names the peripheral type of the class
// (5 for CD-ROM, 0 for disk).
bool scsiTypeMatches(const char* typeText, ScsiDeviceClass deviceClass);

}  // namespace fx60::platform::os
