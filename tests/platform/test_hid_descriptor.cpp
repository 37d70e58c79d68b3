#include <gtest/gtest.h>

#include "platform/posix/hid_descriptor.h"

namespace fx60::platform::os {
namespace {

// Vendor page, one collection, 64-byte input and output reports, no report ids:
// the layout of a simple vendor-defined module.
const std::vector<uint8_t> kVendorInOut = {
    0x06, 0x00, 0xFF,  // usage page (vendor)
    0x09, 0x01,        // usage
    0xA1, 0x01,        // collection (application)
    0x15, 0x00,        // logical minimum 0
    0x26, 0xFF, 0x00,  // logical maximum 255
    0x75, 0x08,        // report size 8
    0x95, 0x40,        // report count 64
    0x09, 0x01, 0x81, 0x02,  // input
    0x09, 0x02, 0x91, 0x02,  // output
    0xC0,                    // end collection
};

TEST(ReportDescriptor, SimpleVendorDeviceHas65ByteReports) {
  const auto summary = parseReportDescriptor(kVendorInOut);
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->lengths.input, 65);
  EXPECT_EQ(summary->lengths.output, 65);
  EXPECT_EQ(summary->lengths.feature, 0);
  EXPECT_FALSE(summary->usesReportIds);
}

TEST(ReportDescriptor, NumberedReportsTakeTheLongestPerKindAndRoundBitsUp) {
  const std::vector<uint8_t> descriptor = {
      0x85, 0x01,              // report id 1
      0x75, 0x08, 0x95, 0x10,  // 16 bytes
      0x81, 0x02,              // input
      0x85, 0x02,              // report id 2
      0x95, 0x20, 0x81, 0x02,  // 32-byte input
      0x75, 0x01, 0x95, 0x03,  // 3 bits
      0xB1, 0x02,              // feature
      0x75, 0x08, 0x95, 0x07,  // 7 bytes...
      0x91, 0x02,              // ... output of report 2
  };
  const auto summary = parseReportDescriptor(descriptor);
  ASSERT_TRUE(summary);
  EXPECT_TRUE(summary->usesReportIds);
  EXPECT_EQ(summary->lengths.input, 33);
  EXPECT_EQ(summary->lengths.feature, 2);
  EXPECT_EQ(summary->lengths.output, 8);
}

TEST(ReportDescriptor, PushPopRestoresGlobalsAndLongItemsAreSkipped) {
  const std::vector<uint8_t> descriptor = {
      0x75, 0x08, 0x95, 0x04,  // 4 bytes
      0xA4,                    // push
      0x95, 0x40,              // 64 bytes
      0xFE, 0x02, 0x10, 0xAA, 0xBB,  // long item, two data bytes
      0x81, 0x02,              // 64-byte input
      0xB4,                    // pop
      0x91, 0x02,              // 4-byte output
      0x97, 0x02, 0x00, 0x00, 0x00,  // report count with four data bytes: 2
      0xB1, 0x02,              // 2-byte feature
  };
  const auto summary = parseReportDescriptor(descriptor);
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->lengths.input, 65);
  EXPECT_EQ(summary->lengths.output, 5);
  EXPECT_EQ(summary->lengths.feature, 3);
}

TEST(ReportDescriptor, MalformedDescriptorsAreRefused) {
  // An item whose data runs past the end.
  EXPECT_FALSE(parseReportDescriptor(std::vector<uint8_t>{0x75, 0x08, 0x96, 0x40}));
  // A long item cut short.
  EXPECT_FALSE(parseReportDescriptor(std::vector<uint8_t>{0xFE, 0x05, 0x10, 0x00}));
  EXPECT_FALSE(parseReportDescriptor(std::vector<uint8_t>{0xFE}));
  // Pop without push, report id 0.
  EXPECT_FALSE(parseReportDescriptor(std::vector<uint8_t>{0xB4}));
  EXPECT_FALSE(parseReportDescriptor(std::vector<uint8_t>{0x85, 0x00}));
  // Unbounded pushes.
  EXPECT_FALSE(parseReportDescriptor(std::vector<uint8_t>(100, 0xA4)));
}

TEST(ReportDescriptor, HugeCountsSaturateRatherThanWrap) {
  const std::vector<uint8_t> descriptor = {0x77, 0xFF, 0xFF, 0xFF, 0xFF,  // report size 2^32 - 1
                                           0x97, 0xFF, 0xFF, 0xFF, 0xFF,  // report count 2^32 - 1
                                           0x81, 0x02};
  const auto summary = parseReportDescriptor(descriptor);
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->lengths.input, 0xFFFF);
}

TEST(HidUevent, IdsComeFromTheHidIdLine) {
  const auto ids = parseHidIdFromUevent(
      "DRIVER=hid-generic\nHID_ID=0003:0000821B:00000202\nHID_NAME=Module\n");
  ASSERT_TRUE(ids);
  EXPECT_EQ(ids->vendorId, 0x821B);
  EXPECT_EQ(ids->productId, 0x0202);
  EXPECT_TRUE(parseHidIdFromUevent("HID_ID=0003:0000821b:00000202"));
}

TEST(HidUevent, MissingOrBrokenIdLineGivesNothing) {
  EXPECT_FALSE(parseHidIdFromUevent("DRIVER=hid-generic\n"));
  EXPECT_FALSE(parseHidIdFromUevent("HID_ID=0003:0000821B\n"));
  EXPECT_FALSE(parseHidIdFromUevent("HID_ID=0003:0001821B:00000202\n"));
  EXPECT_FALSE(parseHidIdFromUevent("HID_ID=0003:zz:00000202\n"));
  EXPECT_FALSE(parseHidIdFromUevent("XHID_ID=0003:0000821B:00000202\n"));
}

}  // namespace
}  // namespace fx60::platform::os
