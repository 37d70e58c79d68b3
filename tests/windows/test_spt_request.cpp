// The SCSI pass-through request as it goes to DeviceIoControl, and how its results
// are judged. Wine does not carry the request to a device (it answers error 50),
// so this is where the Windows pass-through is checked.
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "platform/win32/spt_request.h"

namespace fx60::platform::os {
namespace {

ScsiCommand readTen(uint32_t timeoutSeconds) {
  ScsiCommand cmd;
  cmd.cdb = {0x28, 0, 0, 0, 0, 1, 0, 0, 2, 0};
  cmd.cdbLength = 10;
  cmd.direction = DataDirection::FromDevice;
  cmd.timeoutSeconds = timeoutSeconds;
  return cmd;
}

TEST(SptRequest, CarriesTheCommandTheBufferAndRoomForSense) {
  std::vector<uint8_t> data(1024);
  const SptRequest request = buildSptRequest(readTen(5), data);
  const SCSI_PASS_THROUGH_DIRECT& spt = request.header;
  EXPECT_EQ(spt.Length, sizeof(SCSI_PASS_THROUGH_DIRECT));
  EXPECT_EQ(spt.CdbLength, 10);
  EXPECT_EQ(spt.Cdb[0], 0x28);
  EXPECT_EQ(spt.Cdb[8], 2);
  EXPECT_EQ(spt.Cdb[10], 0);  // unused bytes stay zero
  EXPECT_EQ(spt.DataIn, SCSI_IOCTL_DATA_IN);
  EXPECT_EQ(spt.DataTransferLength, 1024u);
  EXPECT_EQ(spt.DataBuffer, data.data());
  EXPECT_EQ(spt.TimeOutValue, 5u);
  // The sense buffer lies inside the block handed to the system.
  EXPECT_EQ(spt.SenseInfoOffset, offsetof(SptRequest, sense));
  EXPECT_LE(spt.SenseInfoOffset + spt.SenseInfoLength, sizeof(SptRequest));
}

TEST(SptRequest, DirectionTimeoutAndEmptyTransfers) {
  std::vector<uint8_t> data(16);
  ScsiCommand write = readTen(0);
  write.direction = DataDirection::ToDevice;
  const SptRequest out = buildSptRequest(write, data);
  EXPECT_EQ(out.header.DataIn, SCSI_IOCTL_DATA_OUT);
  EXPECT_EQ(out.header.TimeOutValue, kDefaultSptTimeoutSeconds);  // 0: the default, never "no time"

  const SptRequest none = buildSptRequest(readTen(1), {});
  EXPECT_EQ(none.header.DataIn, SCSI_IOCTL_DATA_UNSPECIFIED);
  EXPECT_EQ(none.header.DataTransferLength, 0u);
  EXPECT_EQ(none.header.DataBuffer, nullptr);

  ScsiCommand oversized = readTen(1);
  oversized.cdbLength = 40;  // more than the request can carry
  EXPECT_EQ(buildSptRequest(oversized, data).header.CdbLength, 16);
}

TEST(SptRequest, ResultsAreJudged) {
  std::vector<uint8_t> data(64);
  SptRequest request = buildSptRequest(readTen(1), data);

  request.header.DataTransferLength = 40;  // a short transfer
  PassThroughResult done = judgeSpt(true, ERROR_SUCCESS, request, data.size());
  EXPECT_EQ(done.outcome, PassThroughOutcome::Done);
  EXPECT_EQ(done.bytesTransferred, 40u);

  request.header.DataTransferLength = 4096;  // never more than the buffer
  EXPECT_EQ(judgeSpt(true, ERROR_SUCCESS, request, data.size()).bytesTransferred, 64u);

  EXPECT_EQ(judgeSpt(false, ERROR_CRC, request, data.size()).outcome, PassThroughOutcome::Retryable);
  EXPECT_EQ(judgeSpt(false, ERROR_NOT_SUPPORTED, request, data.size()).outcome, PassThroughOutcome::Failed);
  EXPECT_EQ(judgeSpt(false, ERROR_GEN_FAILURE, request, data.size()).outcome, PassThroughOutcome::Failed);

  request.header.ScsiStatus = 2;  // CHECK CONDITION: the device refused the command
  const PassThroughResult refused = judgeSpt(true, ERROR_SUCCESS, request, data.size());
  EXPECT_EQ(refused.outcome, PassThroughOutcome::Failed);
  EXPECT_EQ(refused.bytesTransferred, 0u);
}

}  // namespace
}  // namespace fx60::platform::os
