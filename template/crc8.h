// The template's check byte: CRC-8 with polynomial 0xD5, initial value 0, no
// reflection and no final XOR.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fx60 {

uint8_t crc8DvbS2(const uint8_t* data, size_t length);

}  // namespace fx60
