#include <gtest/gtest.h>

#include <cerrno>

#include "platform/posix/sg_request.h"

namespace fx60::platform::os {
namespace {

ScsiCommand write10(uint32_t seconds) {
  ScsiCommand cmd;
  cmd.cdb[0] = 0x2A;
  cmd.cdbLength = 10;
  cmd.direction = DataDirection::ToDevice;
  cmd.timeoutSeconds = seconds;
  return cmd;
}

sg_io_hdr_t finished(unsigned length, int resid, uint8_t status, uint8_t host, uint8_t driver) {
  sg_io_hdr_t hdr{};
  hdr.dxfer_len = length;
  hdr.resid = resid;
  hdr.status = status;
  hdr.host_status = host;
  hdr.driver_status = driver;
  return hdr;
}

TEST(SgRequest, HeaderCarriesCommandDataAndTimeoutInMilliseconds) {
  std::vector<uint8_t> data(32);
  const ScsiCommand cmd = write10(10);
  const sg_io_hdr_t hdr = buildSgIoHeader(cmd, data);
  EXPECT_EQ(hdr.interface_id, 'S');
  EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_TO_DEV);
  EXPECT_EQ(hdr.cmd_len, 10);
  EXPECT_EQ(hdr.cmdp, cmd.cdb.data());
  EXPECT_EQ(hdr.cmdp[0], 0x2A);
  EXPECT_EQ(hdr.dxfer_len, 32u);
  EXPECT_EQ(hdr.dxferp, data.data());
  EXPECT_EQ(hdr.timeout, 10000u);
  EXPECT_EQ(hdr.mx_sb_len, 0);
  EXPECT_EQ(hdr.sbp, nullptr);
}

TEST(SgRequest, DirectionFollowsCommandAndEmptyTransferHasNone) {
  std::vector<uint8_t> data(36);
  ScsiCommand inquiry;
  inquiry.cdb = {0x12, 0, 0, 0, 0x24, 0};
  inquiry.cdbLength = 6;
  inquiry.direction = DataDirection::FromDevice;
  EXPECT_EQ(buildSgIoHeader(inquiry, data).dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(buildSgIoHeader(inquiry, {}).dxfer_direction, SG_DXFER_NONE);
}

TEST(SgRequest, HugeTimeoutSaturatesInsteadOfWrapping) {
  EXPECT_EQ(buildSgIoHeader(write10(5000), {}).timeout, 5000000u);
  EXPECT_EQ(buildSgIoHeader(write10(0xFFFFFFFF), {}).timeout, 0xFFFFFFFFu);
}

TEST(SgOutcome, GoodStatusReportsBytesActuallyMoved) {
  const auto result = judgeSgIo(0, 0, finished(46084, 100, 0, 0, 0));
  EXPECT_EQ(result.outcome, PassThroughOutcome::Done);
  EXPECT_EQ(result.bytesTransferred, 45984u);
  // A residue beyond the request is nonsense: nothing counts as received.
  EXPECT_EQ(judgeSgIo(0, 0, finished(4, 9, 0, 0, 0)).bytesTransferred, 0u);
  EXPECT_EQ(judgeSgIo(0, 0, finished(4, -1, 0, 0, 0)).bytesTransferred, 0u);
}

TEST(SgOutcome, TransportErrorsAreRetryableOthersFail) {
  for (uint8_t host : {0x02, 0x06, 0x07, 0x0b, 0x0c, 0x0d, 0x0e}) {
    EXPECT_EQ(judgeSgIo(0, 0, finished(32, 0, 0, host, 0)).outcome, PassThroughOutcome::Retryable)
        << int{host};
  }
  // No connection, time-out, bad target, abort: the device is gone or hung.
  for (uint8_t host : {0x01, 0x03, 0x04, 0x05}) {
    EXPECT_EQ(judgeSgIo(0, 0, finished(32, 0, 0, host, 0)).outcome, PassThroughOutcome::Failed)
        << int{host};
  }
  EXPECT_EQ(judgeSgIo(0, 0, finished(32, 0, 0x08, 0, 0)).outcome, PassThroughOutcome::Retryable);
  EXPECT_EQ(judgeSgIo(0, 0, finished(32, 0, 0x02, 0, 0x08)).outcome, PassThroughOutcome::Failed);
  EXPECT_EQ(judgeSgIo(0, 0, finished(32, 0, 0, 0, 0x06)).outcome, PassThroughOutcome::Failed);
}

TEST(SgOutcome, IoctlFailureFailsUnlessInterrupted) {
  const sg_io_hdr_t untouched = finished(32, 0, 0, 0, 0);
  EXPECT_EQ(judgeSgIo(-1, ENODEV, untouched).outcome, PassThroughOutcome::Failed);
  EXPECT_EQ(judgeSgIo(-1, EIO, untouched).outcome, PassThroughOutcome::Failed);
  EXPECT_EQ(judgeSgIo(-1, EINTR, untouched).outcome, PassThroughOutcome::Retryable);
  EXPECT_EQ(judgeSgIo(-1, ENODEV, untouched).bytesTransferred, 0u);
}

TEST(SgDiscovery, PeripheralTypeSelectsClass) {
  EXPECT_TRUE(scsiTypeMatches("5\n", ScsiDeviceClass::Cdrom));
  EXPECT_FALSE(scsiTypeMatches("5\n", ScsiDeviceClass::Disk));
  EXPECT_TRUE(scsiTypeMatches("0\n", ScsiDeviceClass::Disk));
  EXPECT_FALSE(scsiTypeMatches("", ScsiDeviceClass::Disk));
  EXPECT_FALSE(scsiTypeMatches("x", ScsiDeviceClass::Cdrom));
}

}  // namespace
}  // namespace fx60::platform::os
