#include "platform/text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace fx60::platform {

namespace {

class Converter {
 public:
  Converter(const char* to, const char* from) : handle_(::iconv_open(to, from)) {}
  ~Converter() {
    if (valid()) ::iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much as it can; `input` is left at the first byte that could not
  // be converted (empty when all was). False on any error other than a bad byte.
  bool convert(std::string_view& input, std::string& output) {
    char buffer[256];
    while (!input.empty()) {
      char* in = const_cast<char*>(input.data());
      size_t inLeft = input.size();
      char* out = buffer;
      size_t outLeft = sizeof buffer;
      const size_t result = ::iconv(handle_, &in, &inLeft, &out, &outLeft);
      const int error = errno;
      output.append(buffer, static_cast<size_t>(out - buffer));
      input.remove_prefix(input.size() - inLeft);
      if (result != static_cast<size_t>(-1)) continue;
      if (error == E2BIG) continue;
      return error == EILSEQ || error == EINVAL;
    }
    return true;
  }

 private:
  iconv_t handle_;
};

}  // namespace

std::string gbkToUtf8(std::string_view gbk) {
  Converter converter("UTF-8", "GBK");
  std::string text;
  if (!converter.valid()) return text;
  while (!gbk.empty()) {
    if (!converter.convert(gbk, text)) break;
    if (!gbk.empty()) {
      text += "\xEF\xBF\xBD";  // U+FFFD for the byte that is not GBK
      gbk.remove_prefix(1);
    }
  }
  return text;
}

std::optional<std::string> utf8ToGbk(std::string_view utf8) {
  Converter converter("GBK", "UTF-8");
  std::string text;
  if (!converter.valid() || !converter.convert(utf8, text) || !utf8.empty()) return std::nullopt;
  return text;
}

}  // namespace fx60::platform
