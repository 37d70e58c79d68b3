#include "sim/idcard/text_codec.h"

#include <iconv.h>

#include <cerrno>

namespace fx60::idcard {

std::optional<std::string> convertText(std::string_view text, const char* from, const char* to) {
  const iconv_t converter = ::iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(text.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* next = out.data();
  size_t outLeft = out.size();
  bool ok = true;
  while (inLeft > 0) {
    if (::iconv(converter, &in, &inLeft, &next, &outLeft) != static_cast<size_t>(-1)) continue;
    if (errno != E2BIG) {  // an invalid or untranslatable sequence, or one cut short
      ok = false;
      break;
    }
    const size_t used = static_cast<size_t>(next - out.data());
    out.resize(out.size() * 2);
    next = out.data() + used;
    outLeft = out.size() - used;
  }
  // Flush any shift state (none for these encodings, but iconv asks for it).
  if (ok && ::iconv(converter, nullptr, nullptr, &next, &outLeft) == static_cast<size_t>(-1)) ok = false;
  ::iconv_close(converter);
  if (!ok) return std::nullopt;
  out.resize(static_cast<size_t>(next - out.data()));
  return out;
}

}  // namespace fx60::idcard
