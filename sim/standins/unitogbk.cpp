// libUniToGBK.so: UCS-2 little-endian text to GBK, through iconv.
#include <cstring>
#include <string>

#include "sim/idcard/text_codec.h"
#include "sim/standins/standin_export.h"

// Converts the zero-terminated UCS-2 text at ucs2Source into zero-terminated GBK
// text at gbkDestination, writing at most destinationSize bytes. Returns 1 when
// done, 0 for a null pointer, a size below 1, text that is not UCS-2 (a lone
// surrogate) or has a character GBK lacks, or a result that does not fit; then
// the destination holds the empty text (when it has room for it).
STANDIN_EXPORT int UnicodeToGBK(const unsigned char* ucs2Source, unsigned char* gbkDestination, int destinationSize) {
  if (gbkDestination == nullptr || destinationSize < 1) return 0;
  gbkDestination[0] = '\0';
  if (ucs2Source == nullptr) return 0;
  size_t bytes = 0;
  while (ucs2Source[bytes] != 0 || ucs2Source[bytes + 1] != 0) bytes += 2;
  const auto gbk = fx60::idcard::convertText(
      std::string_view(reinterpret_cast<const char*>(ucs2Source), bytes), fx60::idcard::kUcs2, fx60::idcard::kGbk);
  if (!gbk || gbk->size() + 1 > static_cast<size_t>(destinationSize)) return 0;
  std::memcpy(gbkDestination, gbk->data(), gbk->size());
  gbkDestination[gbk->size()] = '\0';
  return 1;
}
