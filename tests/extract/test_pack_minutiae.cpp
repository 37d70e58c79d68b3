#include <gtest/gtest.h>

#include "extract/minutiae_stages.h"

namespace fx60::extract {
namespace {

int readAngle(const uint8_t* record) { return (360 - (((record[3] >> 1) & 1) * 256 + record[2])) % 360; }
int readY(const uint8_t* record) { return (record[3] & 1) * 256 + record[1]; }

TEST(Packing, AnglesAndNinthBitOfY) {
  MinutiaList list;
  list.count = 3;
  list.entries[0] = Minutia{10, 20, kRidgeEnding, 0};
  list.entries[1] = Minutia{255, 359, kBifurcation, 255};
  list.entries[2] = Minutia{0, 256, kRidgeEnding, 64};
  PackedMinutiae packed;
  packed.bytes.fill(0xAA);
  packMinutiae(list, packed);

  EXPECT_EQ(packed.bytes[0], 0);
  EXPECT_EQ(packed.bytes[1], 3);
  const uint8_t* first = packed.bytes.data() + 2;
  EXPECT_EQ(first[0], 10);
  EXPECT_EQ(first[1], 20);
  EXPECT_EQ(first[2], 0x68);  // 360, standing for 0 degrees
  EXPECT_EQ(first[3], 0xFE);
  EXPECT_EQ(readAngle(first), 0);

  const uint8_t* second = packed.bytes.data() + 6;
  EXPECT_EQ(second[0], 255);
  EXPECT_EQ(second[1], 0x67);
  EXPECT_EQ(second[2], 1);  // 360 - 359
  EXPECT_EQ(second[3], 0xFD);
  EXPECT_EQ(readY(second), 359);
  EXPECT_EQ(readAngle(second), 359);

  const uint8_t* third = packed.bytes.data() + 10;
  EXPECT_EQ(readY(third), 256);
  EXPECT_EQ(readAngle(third), 90);  // a quarter turn clockwise on the screen

  for (int i = 14; i < kPackedMinutiaeSize; ++i) ASSERT_EQ(packed.bytes[i], 0) << i;
}

TEST(Packing, EveryDirectionReadsBackWithinHalfAStep) {
  MinutiaList list;
  list.count = 1;
  PackedMinutiae packed;
  for (int d = 0; d < 256; ++d) {
    list.entries[0] = Minutia{1, 1, kRidgeEnding, static_cast<uint8_t>(d)};
    packMinutiae(list, packed);
    EXPECT_EQ(readAngle(packed.bytes.data() + 2), std::min(359, (d * 360 + 128) >> 8));
  }
}

TEST(Packing, FullListFillsTheRecordAndAnOversizedCountIsCut) {
  MinutiaList list;
  list.count = 100;
  for (int i = 0; i < 100; ++i) list.entries[i] = Minutia{static_cast<uint16_t>(i), 5, kRidgeEnding, 0};
  PackedMinutiae packed;
  packMinutiae(list, packed);
  EXPECT_EQ(packed.bytes[1], 100);
  EXPECT_EQ(packed.bytes[2 + 4 * 99], 99);
  EXPECT_EQ(packed.bytes[401], 0xFE);  // angle 360 sets bit 8
  EXPECT_EQ(packed.bytes[402], 0);

  list.count = 500;  // corrupt count: never write past the record
  packMinutiae(list, packed);
  EXPECT_EQ(packed.bytes[1], 100);
}

}  // namespace
}  // namespace fx60::extract
