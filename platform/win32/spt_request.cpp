#include "platform/win32/spt_request.h"

#include <algorithm>
#include <cstddef>

namespace fx60::platform::os {

SptRequest buildSptRequest(const ScsiCommand& cmd, std::span<uint8_t> data) {
  SptRequest request{};
  SCSI_PASS_THROUGH_DIRECT& spt = request.header;
  spt.Length = sizeof spt;
  spt.CdbLength = std::min<UCHAR>(cmd.cdbLength, sizeof spt.Cdb);
  std::copy_n(cmd.cdb.begin(), spt.CdbLength, spt.Cdb);
  spt.DataIn = cmd.direction == DataDirection::FromDevice ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
  if (data.empty()) spt.DataIn = SCSI_IOCTL_DATA_UNSPECIFIED;
  spt.DataTransferLength = static_cast<ULONG>(data.size());
  spt.DataBuffer = data.empty() ? nullptr : data.data();
  spt.TimeOutValue = cmd.timeoutSeconds == 0 ? kDefaultSptTimeoutSeconds : cmd.timeoutSeconds;
  spt.SenseInfoLength = sizeof request.sense;
  spt.SenseInfoOffset = offsetof(SptRequest, sense);
  return request;
}

PassThroughResult judgeSpt(bool succeeded, DWORD lastError, const SptRequest& request, size_t dataSize) {
  if (!succeeded)
    return {lastError == ERROR_CRC ? PassThroughOutcome::Retryable : PassThroughOutcome::Failed, 0};
  constexpr UCHAR kStatusGood = 0;
  if (request.header.ScsiStatus != kStatusGood) return {PassThroughOutcome::Failed, 0};
  const auto transferred = static_cast<uint32_t>(std::min<size_t>(request.header.DataTransferLength, dataSize));
  return {PassThroughOutcome::Done, transferred};
}

}  // namespace fx60::platform::os
