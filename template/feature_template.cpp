#include "template/feature_template.h"

#include <algorithm>
#include <cstring>

#include "template/crc8.h"

namespace fx60 {
namespace {

constexpr uint8_t kHeader[6] = {kTemplateMagic, 1, 18, 14, 1, 99};
constexpr int kFirstFillerByte = 7;  // bytes 7..18 hold 0xFF
constexpr int kFillerLength = 12;

void writeHeader(uint8_t* tpl) {
  std::memcpy(tpl, kHeader, sizeof kHeader);
  tpl[kTemplateQualityByte] = 0;
  std::memset(tpl + kFirstFillerByte, 0xFF, kFillerLength);
}

}  // namespace

uint8_t templateCheckByte(const uint8_t* tpl) { return crc8DvbS2(tpl, kTemplateCheckByte); }

void updateCheckByte(uint8_t* tpl) { tpl[kTemplateCheckByte] = templateCheckByte(tpl); }

bool checkByteIsValid(const uint8_t* tpl) { return tpl[kTemplateCheckByte] == templateCheckByte(tpl); }

bool isNativeTemplate(const uint8_t* tpl) { return tpl[1] == 1 && tpl[2] == 18 && tpl[3] == 14; }

void BuildEmptyTemplate(uint8_t* tpl) {
  std::memset(tpl, 0, kTemplateSize);
  writeHeader(tpl);
  updateCheckByte(tpl);
}

int WriteTemplate(std::span<const MinutiaRecord> minutiae, uint8_t* tpl) {
  std::memset(tpl, 0, kTemplateSize);
  // More than 100 records are bounded so that they cannot run into the seal.
  const int count = static_cast<int>(std::min<size_t>(minutiae.size(), kMaxWrittenMinutiae));
  if (count == 0) return 1;

  writeHeader(tpl);
  tpl[kTemplateCountByte] = static_cast<uint8_t>(count);
  const int length = count * kMinutiaRecordSize + 9;
  tpl[kTemplateLengthHigh] = static_cast<uint8_t>(length >> 8);
  tpl[kTemplateLengthHigh + 1] = static_cast<uint8_t>(length);
  for (int i = 0; i < count; ++i) {
    MinutiaRecord record = minutiae[i];
    record.angle = wrapDegrees(record.angle);
    writeMinutiaRecord(tpl, i, record);
  }
  updateCheckByte(tpl);
  return 0;
}

}  // namespace fx60
