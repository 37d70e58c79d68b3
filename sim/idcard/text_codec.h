// Text conversion between the encodings a card meets: UTF-8 (our files and
// tools), UCS-2 little-endian (the card's text block) and GBK (what the station
// shows).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fx60::idcard {

inline constexpr const char* kUtf8 = "UTF-8";
inline constexpr const char* kUcs2 = "UCS-2LE";
inline constexpr const char* kGbk = "GBK";

// The bytes of `text` in encoding `to`; empty when `text` is not valid in `from`
// or holds a character that `to` lacks.
std::optional<std::string> convertText(std::string_view text, const char* from, const char* to);

}  // namespace fx60::idcard
