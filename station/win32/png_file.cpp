#include "station/win32/png_file.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <string_view>

namespace fx60::station::win32 {

namespace {

constexpr size_t kStoredBlockLimit = 65535;

constexpr std::array<uint32_t, 256> kCrcTable = [] {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}();

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = kCrcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

uint32_t adler32(const std::vector<uint8_t>& data) {
  uint32_t a = 1, b = 0;
  for (uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

void putBigEndian(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void putChunk(std::vector<uint8_t>& out, std::string_view type, const std::vector<uint8_t>& body) {
  putBigEndian(out, static_cast<uint32_t>(body.size()));
  const size_t typeAt = out.size();
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), body.begin(), body.end());
  putBigEndian(out, crc32(out.data() + typeAt, out.size() - typeAt));
}

}  // namespace

bool writePng(const std::filesystem::path& file, int width, int height, const std::vector<uint8_t>& rgb) {
  if (width <= 0 || height <= 0 || rgb.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 3)
    return false;
  const size_t stride = static_cast<size_t>(width) * 3;
  std::vector<uint8_t> rows;  // each row behind filter type 0
  rows.reserve((stride + 1) * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    rows.push_back(0);
    rows.insert(rows.end(), rgb.begin() + static_cast<ptrdiff_t>(stride * y),
                rgb.begin() + static_cast<ptrdiff_t>(stride * (y + 1)));
  }

  std::vector<uint8_t> deflated{0x78, 0x01};
  for (size_t at = 0; at < rows.size(); at += kStoredBlockLimit) {
    const size_t length = std::min(kStoredBlockLimit, rows.size() - at);
    const bool last = at + length >= rows.size();
    deflated.push_back(last ? 1 : 0);
    deflated.push_back(static_cast<uint8_t>(length));
    deflated.push_back(static_cast<uint8_t>(length >> 8));
    deflated.push_back(static_cast<uint8_t>(~length));
    deflated.push_back(static_cast<uint8_t>(~length >> 8));
    deflated.insert(deflated.end(), rows.begin() + static_cast<ptrdiff_t>(at),
                    rows.begin() + static_cast<ptrdiff_t>(at + length));
  }
  putBigEndian(deflated, adler32(rows));

  std::vector<uint8_t> header;
  putBigEndian(header, static_cast<uint32_t>(width));
  putBigEndian(header, static_cast<uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter choice, no interlace

  std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  putChunk(out, "IHDR", header);
  putChunk(out, "IDAT", deflated);
  putChunk(out, "IEND", {});
  std::ofstream stream(file, std::ios::binary);
  stream.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return static_cast<bool>(stream.flush());
}

}  // namespace fx60::station::win32
