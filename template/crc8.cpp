#include "template/crc8.h"

#include <array>

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

}  // namespace fx60
