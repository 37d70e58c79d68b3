#include "platform/posix/sg_request.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace fx60::platform::os {
namespace {

// Host adapter results (the host_status byte) that mean the transfer itself was
// disturbed and may succeed when repeated: bus busy, parity, transport error, soft
// error, immediate retry, requeue, transport disrupted.
constexpr uint8_t kRetryableHostStatus[] = {0x02, 0x06, 0x07, 0x0b, 0x0c, 0x0d, 0x0e};

// SCSI status bytes.
constexpr uint8_t kStatusGood = 0x00;
constexpr uint8_t kStatusConditionMet = 0x04;
constexpr uint8_t kStatusBusy = 0x08;
constexpr uint8_t kStatusTaskSetFull = 0x28;

// Low nibble of driver_status: 0 fine, 8 (sense data present) accompanies a
// status we judge separately; anything else is a failure inside the driver.
constexpr uint8_t kDriverSense = 0x08;

}  // namespace

sg_io_hdr_t buildSgIoHeader(const ScsiCommand& cmd, std::span<uint8_t> data) {
  sg_io_hdr_t hdr;
  std::memset(&hdr, 0, sizeof hdr);
  hdr.interface_id = 'S';
  if (data.empty()) {
    hdr.dxfer_direction = SG_DXFER_NONE;
  } else {
    hdr.dxfer_direction =
        cmd.direction == DataDirection::ToDevice ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
  }
  hdr.cmd_len = cmd.cdbLength;
  hdr.mx_sb_len = 0;  // no sense data is requested
  hdr.dxfer_len = static_cast<unsigned>(data.size());
  hdr.dxferp = data.empty() ? nullptr : data.data();
  hdr.cmdp = const_cast<unsigned char*>(cmd.cdb.data());
  hdr.sbp = nullptr;
  const uint64_t ms = uint64_t{cmd.timeoutSeconds} * 1000;
  hdr.timeout = ms > std::numeric_limits<unsigned>::max() ? std::numeric_limits<unsigned>::max()
                                                          : static_cast<unsigned>(ms);
  return hdr;
}

PassThroughResult judgeSgIo(int ioctlResult, int ioctlErrno, const sg_io_hdr_t& hdr) {
  if (ioctlResult < 0) {
    return {ioctlErrno == EINTR ? PassThroughOutcome::Retryable : PassThroughOutcome::Failed, 0};
  }
  uint32_t transferred = 0;
  if (hdr.resid >= 0 && static_cast<unsigned>(hdr.resid) <= hdr.dxfer_len) {
    transferred = hdr.dxfer_len - static_cast<unsigned>(hdr.resid);
  }
  if (hdr.host_status != 0) {
    for (uint8_t retryable : kRetryableHostStatus) {
      if (hdr.host_status == retryable) return {PassThroughOutcome::Retryable, 0};
    }
    return {PassThroughOutcome::Failed, 0};
  }
  const uint8_t driver = hdr.driver_status & 0x0f;
  if (driver != 0 && driver != kDriverSense) return {PassThroughOutcome::Failed, 0};
  const uint8_t status = hdr.status & 0xfe;
  if (status == kStatusGood || status == kStatusConditionMet) {
    return {PassThroughOutcome::Done, transferred};
  }
  if (status == kStatusBusy || status == kStatusTaskSetFull) {
    return {PassThroughOutcome::Retryable, 0};
  }
  // Check condition and the rest: the device refused the command.
  return {PassThroughOutcome::Failed, 0};
}

std::string sgIoSummary(int ioctlResult, const sg_io_hdr_t& hdr) {
  if (ioctlResult < 0) return "the request did not reach the device";
  char text[96];
  std::snprintf(text, sizeof text, "SCSI status 0x%02x, host status 0x%02x, driver status 0x%02x", hdr.status,
                hdr.host_status, hdr.driver_status);
  return text;
}

bool scsiTypeMatches(const char* typeText, ScsiDeviceClass deviceClass) {
  char* end = nullptr;
  errno = 0;
  const long type = std::strtol(typeText, &end, 10);
  if (end == typeText || errno != 0) return false;
  return type == (deviceClass == ScsiDeviceClass::Cdrom ? 5 : 0);
}

}  // namespace fx60::platform::os
