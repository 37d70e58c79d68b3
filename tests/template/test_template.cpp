// The template format: SHA-1, CRC-8, the record codec, the empty template, writing
// and sealing.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "template/crc8.h"
#include "template/feature_template.h"
#include "template/seal.h"
#include "template/sha1.h"

namespace fx60 {
namespace {

using Template = std::array<uint8_t, kTemplateSize>;

std::string hex(const Sha1Digest& digest) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : digest) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

std::string sha1Hex(const std::string& message) {
  return hex(sha1(reinterpret_cast<const uint8_t*>(message.data()), message.size()));
}

TEST(Sha1, KnownAnswers) {
  EXPECT_EQ(sha1Hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(sha1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  // 55, 56 and 64 bytes straddle the padding boundary.
  EXPECT_EQ(sha1Hex(std::string(55, 'a')), "c1c8bbdc22796e28c0e15163d20899b65621d65a");
  EXPECT_EQ(sha1Hex(std::string(56, 'a')), "c2db330f6083854c99d4b5bfb6e8f29f201be699");
  EXPECT_EQ(sha1Hex(std::string(64, 'a')), "0098ba824b5c16427bd7a1122a5a442a25ec644d");
}

TEST(Sha1, MillionAsInUnevenPieces) {
  Sha1 hasher;
  const std::string chunk(997, 'a');
  size_t left = 1000000;
  while (left > 0) {
    const size_t take = std::min(left, chunk.size());
    hasher.update(reinterpret_cast<const uint8_t*>(chunk.data()), take);
    left -= take;
  }
  EXPECT_EQ(hex(hasher.finish()), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Crc8, DvbS2CheckValues) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(crc8DvbS2(abc, 3), 0x5A);
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(crc8DvbS2(digits, 9), 0xBC);  // the catalogue check value of this CRC
  EXPECT_EQ(crc8DvbS2(abc, 0), 0x00);
}

// Bytes are taken in groups; every length and starting offset must give what the
// plain bit-by-bit division gives.
TEST(Crc8, GroupedBytesAgreeWithBitwiseDivision) {
  const auto bitwise = [](const uint8_t* data, size_t length) {
    uint8_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
      crc ^= data[i];
      for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ 0xD5 : crc << 1);
    }
    return crc;
  };
  std::array<uint8_t, 80> data;
  uint32_t state = 12345;
  for (uint8_t& byte : data) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  for (size_t offset = 0; offset < 8; ++offset)
    for (size_t length = 0; offset + length <= data.size(); ++length)
      ASSERT_EQ(crc8DvbS2(data.data() + offset, length), bitwise(data.data() + offset, length))
          << "offset " << offset << ", length " << length;
}

TEST(EmptyTemplate, HasTheFixedHeaderAndAValidCheckByte) {
  Template tpl;
  tpl.fill(0xAA);
  BuildEmptyTemplate(tpl.data());
  const uint8_t header[] = {0x43, 0x01, 0x12, 0x0E, 0x01, 0x63, 0x00};
  EXPECT_EQ(std::memcmp(tpl.data(), header, sizeof header), 0);
  for (int i = 7; i <= 18; ++i) EXPECT_EQ(tpl[i], 0xFF) << i;
  for (int i = 19; i < kTemplateCheckByte; ++i) ASSERT_EQ(tpl[i], 0) << i;
  EXPECT_TRUE(checkByteIsValid(tpl.data()));
  EXPECT_TRUE(isNativeTemplate(tpl.data()));

  const uint8_t formerCheck = tpl[kTemplateCheckByte];
  ASSERT_EQ(SealTemplate(tpl.data()), 1);
  EXPECT_EQ(tpl[kTemplateSealByte], formerCheck);
  EXPECT_TRUE(checkByteIsValid(tpl.data()));
}

std::vector<MinutiaRecord> records(std::initializer_list<MinutiaRecord> entries) { return entries; }

// The record layout written out by hand: x, y low byte, angle low byte, then both
// ninth bits above six set bits.
TEST(MinutiaRecordCodec, SplitsTheNinthBitsAndReadsThemBack) {
  Template tpl{};
  writeMinutiaRecord(tpl.data(), 2, {10, 300, 270});
  const uint8_t* r = tpl.data() + kTemplateFirstMinutia + 8;
  EXPECT_EQ(r[0], 10);
  EXPECT_EQ(r[1], 0x2C);
  EXPECT_EQ(r[2], 0x0E);
  EXPECT_EQ(r[3], 0xFC | 0x02 | 0x01);
  for (int x : {0, 1, 255})
    for (int y = 0; y < 512; y += 7)
      for (int angle = 0; angle < 512; angle += 5) {
        writeMinutiaRecord(tpl.data(), 0, {x, y, angle});
        const MinutiaRecord back = readMinutiaRecord(tpl.data(), 0);
        ASSERT_EQ(back.x, x);
        ASSERT_EQ(back.y, y);
        ASSERT_EQ(back.angle, angle);
      }
}

TEST(MinutiaRecordCodec, SingularPointSlots) {
  Template tpl{};
  writeSingularPoint(tpl.data(), 1, {205, 299});
  EXPECT_EQ(tpl[kTemplateSingularPoints + 3], 205);
  EXPECT_EQ(tpl[kTemplateSingularPoints + 4], 299 - 256);
  EXPECT_EQ(tpl[kTemplateSingularPoints + 5], 0xFF);
  const SingularPointRecord back = readSingularPoint(tpl.data(), 1);
  EXPECT_EQ(back.x, 205);
  EXPECT_EQ(back.y, 299);
  EXPECT_EQ(readSingularPoint(tpl.data(), 0).x, 0);
}

// An angle of 360 or more names the angle a full turn less; the old rule of the
// comparison's clean-up (negate, reduce with a signed remainder, negate back) and of
// the template writer (decode 1..360, re-encode) give the same.
TEST(MinutiaRecordCodec, AnglesOfAFullTurnAndMoreWrap) {
  for (int stored = 0; stored < 512; ++stored) {
    const int negated = (360 - stored) % 360;
    ASSERT_EQ(wrapDegrees(stored), (360 - negated) % 360) << stored;
    const int decoded = ((360 - stored) % 360 + 360) % 360;
    ASSERT_EQ(wrapDegrees(stored), (360 - decoded) % 360) << stored;
    ASSERT_EQ(oppositeDegrees(stored), (stored + 180) % 360) << stored;
  }
  EXPECT_EQ(wrapDegrees(360), 0);
  EXPECT_EQ(wrapDegrees(359), 359);
}

TEST(WriteTemplate, EncodesCoordinatesAndAngles) {
  const auto minutiae = records({{10, 300, 270}, {20, 40, 360}, {30, 50, 90}});
  Template tpl;
  ASSERT_EQ(WriteTemplate(minutiae, tpl.data()), 0);
  EXPECT_EQ(tpl[kTemplateCountByte], 3);
  EXPECT_EQ(tpl[20], 0);
  EXPECT_EQ(tpl[21], 3 * 4 + 9);
  EXPECT_EQ(tpl[kTemplateQualityByte], 0);

  const uint8_t* first = tpl.data() + kTemplateFirstMinutia;
  EXPECT_EQ(first[0], 10);
  EXPECT_EQ(first[1], 0x2C);  // y = 300: low byte, bit 8 in the flags
  EXPECT_EQ(first[2], 0x0E);  // angle 270: low byte, bit 8 in the flags
  EXPECT_EQ(first[3], 0xFC | 0x02 | 0x01);

  const uint8_t* second = first + 4;
  EXPECT_EQ(second[2], 0);  // a stored 360 means 0 degrees
  EXPECT_EQ(second[3], 0xFC);
  EXPECT_EQ(first[8 + 2], 90);
  EXPECT_TRUE(checkByteIsValid(tpl.data()));
}

TEST(WriteTemplate, NoMinutiaeLeavesAllZero) {
  Template tpl;
  tpl.fill(0x55);
  EXPECT_EQ(WriteTemplate({}, tpl.data()), 1);
  for (uint8_t byte : tpl) ASSERT_EQ(byte, 0);
}

TEST(WriteTemplate, HundredMinutiaeEndAtByte430AndMoreAreCut) {
  std::vector<MinutiaRecord> minutiae;
  for (int i = 0; i < 130; ++i) minutiae.push_back({i + 1, 0, 1});
  Template tpl;
  ASSERT_EQ(WriteTemplate(minutiae, tpl.data()), 0);
  EXPECT_EQ(tpl[kTemplateCountByte], 100);
  EXPECT_EQ(tpl[20], (100 * 4 + 9) >> 8);
  EXPECT_EQ(tpl[21], (100 * 4 + 9) & 0xFF);
  EXPECT_EQ(tpl[427], 100);  // x of the last record
  EXPECT_EQ(tpl[430], 0xFC);
  for (int i = 431; i < kTemplateCheckByte; ++i) ASSERT_EQ(tpl[i], 0) << i;
}

class SealedTemplate : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto minutiae = records({{10, 300, 270}, {20, 40, 360}, {130, 359, 1}, {255, 0, 180}});
    ASSERT_EQ(WriteTemplate(minutiae, unsealed.data()), 0);
    unsealed[kTemplateQualityByte] = 77;
    updateCheckByte(unsealed.data());
    sealed = unsealed;
    ASSERT_EQ(SealTemplate(sealed.data()), 1);
  }
  Template unsealed{};
  Template sealed{};
};

TEST_F(SealedTemplate, VerifyGivesBackTheUnsealedTemplate) {
  Template copy = sealed;
  ASSERT_EQ(VerifyTemplateSeal(copy.data()), 1);
  EXPECT_EQ(copy, unsealed);
}

TEST_F(SealedTemplate, AnyChangeBeforeTheSealBreaksIt) {
  for (int i = 0; i < kSealedSpan; ++i) {
    if (i == 1) continue;  // byte 1 has its own rule
    Template copy = sealed;
    copy[i] ^= 0x01;
    ASSERT_EQ(VerifyTemplateSeal(copy.data()), 0) << "byte " << i;
    copy[i] ^= 0x01;
    ASSERT_EQ(copy, sealed) << "a failed check must leave the template untouched";
  }
  for (int i = kTemplateSealByte; i < kTemplateCheckByte; ++i) {
    Template copy = sealed;
    copy[i] ^= 0x80;
    EXPECT_EQ(VerifyTemplateSeal(copy.data()), 0) << "byte " << i;
  }
}

TEST_F(SealedTemplate, CheckByteAloneIsNotPartOfTheSeal) {
  Template copy = sealed;
  copy[kTemplateCheckByte] ^= 0xFF;
  EXPECT_EQ(VerifyTemplateSeal(copy.data()), 1);
}

TEST_F(SealedTemplate, ByteOneIsForcedToOneBeforeHashing) {
  Template changed = sealed;
  changed[1] = 7;
  ASSERT_EQ(VerifyTemplateSeal(changed.data()), 1);
  EXPECT_EQ(changed[1], 1);

  // Sealed while byte 1 was 7: the check hashes with 1 and fails.
  Template odd = unsealed;
  odd[1] = 7;
  updateCheckByte(odd.data());
  ASSERT_EQ(SealTemplate(odd.data()), 1);
  EXPECT_EQ(VerifyTemplateSeal(odd.data()), 0);
}

TEST_F(SealedTemplate, ForeignFormatIsRefused) {
  Template copy = sealed;
  copy[3] = 15;
  EXPECT_EQ(VerifyTemplateSeal(copy.data()), 0);
}

TEST(SealTemplate, OversizedCountsStayInsideTheTemplate) {
  for (int count : {111, 115, 120, 121, 200, 255}) {
    // An exactly sized heap block lets the address sanitizer catch any overrun.
    auto tpl = std::make_unique<uint8_t[]>(kTemplateSize);
    BuildEmptyTemplate(tpl.get());
    std::memset(tpl.get() + kTemplateFirstMinutia, 0x5A, kSealedSpan - kTemplateFirstMinutia);
    tpl[kTemplateCountByte] = static_cast<uint8_t>(count);
    updateCheckByte(tpl.get());
    ASSERT_EQ(SealTemplate(tpl.get()), 1) << count;
    EXPECT_EQ(tpl[kTemplateCountByte], count);
    const int clearedEnd = std::min(471 + 4 * (count - 110), kSealedSpan);
    for (int i = 471; i < clearedEnd; ++i) ASSERT_EQ(tpl[i], 0) << count << " byte " << i;
    for (int i = clearedEnd; i < kSealedSpan; ++i) ASSERT_EQ(tpl[i], 0x5A) << count << " byte " << i;
    EXPECT_EQ(tpl[470], 0x5A);
    EXPECT_EQ(VerifyTemplateSeal(tpl.get()), 1) << count;
  }
}

}  // namespace
}  // namespace fx60
