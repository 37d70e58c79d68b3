// Conversion between UTF-8 (the program's own texts) and GBK (identity card texts).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fx60::platform {

// For display: bytes that are not valid GBK become U+FFFD, so that a damaged card
// text still shows what can be read.
std::string gbkToUtf8(std::string_view gbk);

// Empty when the text is not valid UTF-8 or has a character GBK lacks.
std::optional<std::string> utf8ToGbk(std::string_view utf8);

}  // namespace fx60::platform
