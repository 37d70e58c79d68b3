#include "platform/text_encoding.h"

#include <windows.h>

namespace fx60::platform {

namespace {

constexpr UINT kGbkCodePage = 936;

std::string wideToUtf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length, nullptr, nullptr);
  return text;
}

// The UTF-16 form of one GBK character (one or two bytes), or nothing when the
// bytes are not one.
bool gbkCharacter(const char* bytes, int count, std::wstring& out) {
  wchar_t wide[2];
  const int length = MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, bytes, count, wide, 2);
  if (length <= 0) return false;
  out.append(wide, static_cast<size_t>(length));
  return true;
}

}  // namespace

// Character by character, so that a byte that is not GBK becomes U+FFFD in place
// instead of the code page's default character.
std::string gbkToUtf8(std::string_view gbk) {
  std::wstring wide;
  for (size_t at = 0; at < gbk.size();) {
    const auto lead = static_cast<unsigned char>(gbk[at]);
    if (lead < 0x80) {
      wide += static_cast<wchar_t>(lead);
      ++at;
      continue;
    }
    if (lead >= 0x81 && lead <= 0xFE && at + 1 < gbk.size()) {
      const auto trail = static_cast<unsigned char>(gbk[at + 1]);
      if (trail >= 0x40 && trail <= 0xFE && trail != 0x7F && gbkCharacter(gbk.data() + at, 2, wide)) {
        at += 2;
        continue;
      }
    }
    wide += L'\xFFFD';
    ++at;
  }
  return wideToUtf8(wide);
}

std::optional<std::string> utf8ToGbk(std::string_view utf8) {
  if (utf8.empty()) return std::string();
  const int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (wideLength <= 0) return std::nullopt;
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), wide.data(), wideLength);
  BOOL usedDefault = FALSE;
  const int length = WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, nullptr, 0, nullptr, &usedDefault);
  if (length <= 0 || usedDefault) return std::nullopt;
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, text.data(), length, nullptr, &usedDefault);
  return text;
}

}  // namespace fx60::platform
