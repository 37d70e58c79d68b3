// UniToGBK: UCS-2 little-endian text to GBK, through the platform's GBK
// conversion (iconv on Linux, code page 936 on Windows).
#include <cstring>
#include <optional>
#include <string>

#include "platform/text_encoding.h"
#include "sim/standins/standin_export.h"

namespace {

// The UTF-8 form of `count` UCS-2 units; empty for a surrogate, which UCS-2 does
// not have.
std::optional<std::string> ucs2ToUtf8(const unsigned char* ucs2, size_t count) {
  std::string text;
  text.reserve(count * 3);
  for (size_t i = 0; i < count; ++i) {
    const unsigned unit = ucs2[2 * i] | ucs2[2 * i + 1] << 8;
    if (unit >= 0xD800 && unit <= 0xDFFF) return std::nullopt;
    if (unit < 0x80) {
      text += static_cast<char>(unit);
    } else if (unit < 0x800) {
      text += static_cast<char>(0xC0 | unit >> 6);
      text += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
      text += static_cast<char>(0xE0 | unit >> 12);
      text += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  return text;
}

}  // namespace

// Converts the zero-terminated UCS-2 text at ucs2Source into zero-terminated GBK
// text at gbkDestination, writing at most destinationSize bytes. Returns 1 when
// done, 0 for a null pointer, a size below 1, text that is not UCS-2 (a
// surrogate) or has a character GBK lacks, or a result that does not fit; then
// the destination holds the empty text (when it has room for it).
STANDIN_EXPORT int UnicodeToGBK(const unsigned char* ucs2Source, unsigned char* gbkDestination, int destinationSize) {
  if (gbkDestination == nullptr || destinationSize < 1) return 0;
  gbkDestination[0] = '\0';
  if (ucs2Source == nullptr) return 0;
  size_t units = 0;
  while (ucs2Source[2 * units] != 0 || ucs2Source[2 * units + 1] != 0) ++units;
  const auto utf8 = ucs2ToUtf8(ucs2Source, units);
  const auto gbk = utf8 ? fx60::platform::utf8ToGbk(*utf8) : std::nullopt;
  if (!gbk || gbk->size() + 1 > static_cast<size_t>(destinationSize)) return 0;
  std::memcpy(gbkDestination, gbk->data(), gbk->size());
  gbkDestination[gbk->size()] = '\0';
  return 1;
}
