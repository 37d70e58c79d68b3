// The extractor's minutiae as template records: clockwise directions in 1/256 turns
// become whole degrees anticlockwise, and the ninth bit of y survives.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "extract/minutiae_stages.h"
#include "template/feature_template.h"

namespace fx60::extract {
namespace {

TEST(TemplateRecords, AnglesAndNinthBitOfY) {
  const MinutiaRecord first = templateRecordOf(Minutia{10, 20, kRidgeEnding, 0});
  EXPECT_EQ(first.x, 10);
  EXPECT_EQ(first.y, 20);
  EXPECT_EQ(first.angle, 0);  // no turn either way

  const MinutiaRecord second = templateRecordOf(Minutia{255, 359, kBifurcation, 255});
  EXPECT_EQ(second.x, 255);
  EXPECT_EQ(second.y, 359);
  EXPECT_EQ(second.angle, 1);  // 359 degrees clockwise

  const MinutiaRecord third = templateRecordOf(Minutia{0, 256, kRidgeEnding, 64});
  EXPECT_EQ(third.y, 256);
  EXPECT_EQ(third.angle, 270);  // a quarter turn clockwise on the screen

  std::array<uint8_t, kTemplateSize> tpl;
  const std::array<MinutiaRecord, 3> records = {first, second, third};
  ASSERT_EQ(WriteTemplate(records, tpl.data()), 0);
  const uint8_t* bytes = tpl.data() + kTemplateFirstMinutia;
  EXPECT_EQ(bytes[2], 0);
  EXPECT_EQ(bytes[3], 0xFC);
  EXPECT_EQ(bytes[4 + 1], 0x67);  // y = 359: low byte, bit 8 in the flags
  EXPECT_EQ(bytes[4 + 3], 0xFD);
  EXPECT_EQ(bytes[8 + 2], 0x0E);  // 270: low byte, bit 8 in the flags
  EXPECT_EQ(bytes[8 + 3], 0xFF);
  for (int i = kTemplateFirstMinutia + 12; i < kTemplateCheckByte; ++i) ASSERT_EQ(tpl[i], 0) << i;
}

TEST(TemplateRecords, EveryDirectionReadsBackWithinHalfAStep) {
  for (int d = 0; d < 256; ++d) {
    const MinutiaRecord record = templateRecordOf(Minutia{1, 1, kRidgeEnding, static_cast<uint8_t>(d)});
    ASSERT_GE(record.angle, 0);
    ASSERT_LT(record.angle, 360);
    EXPECT_EQ((360 - record.angle) % 360, std::min(359, (d * 360 + 128) >> 8)) << d;
  }
}

TEST(TemplateRecords, FullListFillsTheTemplateInListOrder) {
  MinutiaList list;
  list.count = 100;
  for (int i = 0; i < 100; ++i) list.entries[i] = Minutia{static_cast<uint16_t>(i), 5, kRidgeEnding, 0};
  std::vector<MinutiaRecord> records;
  for (int i = 0; i < list.count; ++i) records.push_back(templateRecordOf(list.entries[i]));
  std::array<uint8_t, kTemplateSize> tpl;
  ASSERT_EQ(WriteTemplate(records, tpl.data()), 0);
  EXPECT_EQ(tpl[kTemplateCountByte], 100);
  EXPECT_EQ(readMinutiaRecord(tpl.data(), 99).x, 99);
  EXPECT_EQ(readMinutiaRecord(tpl.data(), 99).angle, 0);
}

}  // namespace
}  // namespace fx60::extract
