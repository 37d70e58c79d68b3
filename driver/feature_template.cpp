#include "driver/feature_template.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "driver/sha1.h"

namespace fx60 {

namespace {

constexpr uint8_t kCrcPolynomial = 0xD5;

constexpr std::array<uint8_t, 256> makeCrcTable() {
  std::array<uint8_t, 256> table{};
  for (int value = 0; value < 256; ++value) {
    uint8_t crc = static_cast<uint8_t>(value);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ kCrcPolynomial : crc << 1);
    table[value] = crc;
  }
  return table;
}

constexpr std::array<uint8_t, 256> kCrcTable = makeCrcTable();

// The check sum is linear: eight bytes at a time, the running value passes through
// the table eight times and the k-th byte of the group through it 8 - k times.
constexpr int kCrcGroup = 8;
constexpr std::array<std::array<uint8_t, 256>, kCrcGroup> makeCrcGroupTables() {
  std::array<std::array<uint8_t, 256>, kCrcGroup> tables{};
  tables[0] = kCrcTable;
  for (int k = 1; k < kCrcGroup; ++k)
    for (int value = 0; value < 256; ++value) tables[k][value] = kCrcTable[tables[k - 1][value]];
  return tables;
}

constexpr auto kCrcGroupTables = makeCrcGroupTables();

constexpr uint8_t kHeader[6] = {kTemplateMagic, 1, 18, 14, 1, 99};
constexpr int kFirstFillerByte = 7;  // bytes 7..18 hold 0xFF
constexpr int kFillerLength = 12;
constexpr int kMaxWrittenMinutiae = 100;
constexpr int kSealClearFrom = 471;       // records 110 and later are cleared before hashing
constexpr int kSealKeptRecords = 110;

void writeHeader(uint8_t* tpl) {
  std::memcpy(tpl, kHeader, sizeof kHeader);
  tpl[kTemplateQualityByte] = 0;
  std::memset(tpl + kFirstFillerByte, 0xFF, kFillerLength);
}

}  // namespace

uint8_t crc8DvbS2(const uint8_t* data, size_t length) {
  uint8_t crc = 0;
  size_t i = 0;
  for (; i + kCrcGroup <= length; i += kCrcGroup) {
    const uint8_t* group = data + i;
    crc = static_cast<uint8_t>(kCrcGroupTables[7][crc ^ group[0]] ^ kCrcGroupTables[6][group[1]] ^
                               kCrcGroupTables[5][group[2]] ^ kCrcGroupTables[4][group[3]] ^
                               kCrcGroupTables[3][group[4]] ^ kCrcGroupTables[2][group[5]] ^
                               kCrcGroupTables[1][group[6]] ^ kCrcGroupTables[0][group[7]]);
  }
  for (; i < length; ++i) crc = kCrcTable[crc ^ data[i]];
  return crc;
}

uint8_t templateCheckByte(const uint8_t* tpl) { return crc8DvbS2(tpl, kTemplateCheckByte); }

void updateCheckByte(uint8_t* tpl) { tpl[kTemplateCheckByte] = templateCheckByte(tpl); }

bool checkByteIsValid(const uint8_t* tpl) { return tpl[kTemplateCheckByte] == templateCheckByte(tpl); }

bool isNativeTemplate(const uint8_t* tpl) { return tpl[1] == 1 && tpl[2] == 18 && tpl[3] == 14; }

void BuildEmptyTemplate(uint8_t* tpl) {
  std::memset(tpl, 0, kTemplateSize);
  writeHeader(tpl);
  updateCheckByte(tpl);
}

int WriteTemplate(const uint8_t* packed, uint8_t* tpl) {
  std::memset(tpl, 0, kTemplateSize);
  // The extractor never hands over more than 100 minutiae; a larger count is
  // bounded so that the records cannot run into the seal.
  const int count = std::min<int>(packed[1], kMaxWrittenMinutiae);
  if (count == 0) return 1;

  writeHeader(tpl);
  tpl[kTemplateCountByte] = static_cast<uint8_t>(count);
  const int length = count * 4 + 9;
  tpl[kTemplateLengthHigh] = static_cast<uint8_t>(length >> 8);
  tpl[kTemplateLengthHigh + 1] = static_cast<uint8_t>(length);

  for (int i = 0; i < count; ++i) {
    const uint8_t* in = packed + 2 + 4 * i;
    const int y = ((in[3] & 1) << 8) | in[1];
    const int storedAngle = (((in[3] >> 1) & 1) << 8) | in[2];  // 1..360, opposite sense
    const int decoded = ((360 - storedAngle) % 360 + 360) % 360;
    const int angle = (360 - decoded) % 360;  // a stored 360 becomes 0
    uint8_t* out = tpl + kTemplateFirstMinutia + 4 * i;
    out[0] = in[0];
    out[1] = static_cast<uint8_t>(y);
    out[2] = static_cast<uint8_t>(angle);
    out[3] = static_cast<uint8_t>(0xFC | ((angle >> 8) & 1) << 1 | ((y >> 8) & 1));
  }
  updateCheckByte(tpl);
  return 0;
}

int SealTemplate(uint8_t* tpl) {
  std::array<uint8_t, kTemplateSize> copy;
  std::memcpy(copy.data(), tpl, kTemplateSize);

  const int count = copy[kTemplateCountByte];
  if (count > kSealKeptRecords) {
    // Records beyond the 110th cannot fit before the seal. The cleared range stops
    // before the check byte, whatever the count claims.
    const int end = std::min(kSealClearFrom + 4 * (count - kSealKeptRecords), int{kTemplateCheckByte});
    std::fill(copy.begin() + kSealClearFrom, copy.begin() + end, uint8_t{0});
    updateCheckByte(copy.data());
  }

  const Sha1Digest digest = sha1(copy.data(), kSealedSpan);
  const uint8_t key = copy[kTemplateCheckByte];
  copy[kTemplateSealByte] = key;
  for (size_t i = 0; i < digest.size(); ++i) copy[kTemplateDigest + i] = digest[i] ^ key;
  updateCheckByte(copy.data());

  std::memcpy(tpl, copy.data(), kTemplateSize);
  return 1;
}

int VerifyTemplateSeal(uint8_t* tpl) {
  if (tpl[3] != 14) return 0;
  std::array<uint8_t, kTemplateSize> copy;
  std::memcpy(copy.data(), tpl, kTemplateSize);
  copy[1] = 1;

  const Sha1Digest digest = sha1(copy.data(), kSealedSpan);
  const uint8_t key = copy[kTemplateSealByte];
  for (size_t i = 0; i < digest.size(); ++i)
    if ((digest[i] ^ key) != copy[kTemplateDigest + i]) return 0;

  std::fill(copy.begin() + kTemplateSealByte, copy.begin() + kTemplateCheckByte, uint8_t{0});
  copy[kTemplateCheckByte] = key;
  std::memcpy(tpl, copy.data(), kTemplateSize);
  return 1;
}

}  // namespace fx60
