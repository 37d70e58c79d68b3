// What the card issuer does when it makes a card: field values from their
// usual spellings, and the card's fingerprint templates from images.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sim/idcard/card_file.h"

namespace fx60::idcard {

// The sex code: "1" for 1, 男, m or male; "2" for 2, 女, f or female; any other
// single character as it is (for cards that test odd codes).
std::optional<std::string> sexCode(std::string_view text, std::string* error);

// The two-digit nation code of a code ("1", "01", "97") or of a nation's name.
std::optional<std::string> nationCode(std::string_view text, std::string* error);

// The card template of a 256 x 360 fingerprint image (92160 bytes, left
// unchanged): our extractor's template, unsealed, as the card issuer stores it.
// Empty with a message when the image yields no usable template (quality below
// 20 or too few minutiae).
std::optional<std::array<uint8_t, kTemplateBytes>> cardTemplate(const uint8_t* image, std::string* error);

}  // namespace fx60::idcard
