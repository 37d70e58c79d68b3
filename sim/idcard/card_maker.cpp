#include "sim/idcard/card_maker.h"

#include <cstring>
#include <vector>

#include "extract/extractor.h"
#include "sim/idcard/nations.h"
#include "sim/idcard/text_codec.h"
#include "template/feature_template.h"

namespace fx60::idcard {

namespace {

// The quality a template needs to be usable, as the library's own capture asks.
constexpr int kMinimumTemplateQuality = 20;

bool fail(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return false;
}

bool isDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

std::optional<std::string> sexCode(std::string_view text, std::string* error) {
  if (text == "1" || text == "男" || text == "m" || text == "M" || text == "male") return "1";
  if (text == "2" || text == "女" || text == "f" || text == "F" || text == "female") return "2";
  const auto ucs2 = convertText(text, kUtf8, kUcs2);
  if (ucs2 && ucs2->size() == 2) return std::string(text);
  fail(error, "sex: \"" + std::string(text) + "\" is not 1 (男, male) or 2 (女, female)");
  return std::nullopt;
}

std::optional<std::string> nationCode(std::string_view text, std::string* error) {
  if (isDigits(text) && text.size() <= 2) return text.size() == 1 ? "0" + std::string(text) : std::string(text);
  if (const auto code = nationCodeOf(text)) {
    const int value = *code;
    return std::string{static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
  }
  fail(error, "nation: \"" + std::string(text) + "\" is neither a code of one or two digits nor a nation's name");
  return std::nullopt;
}

std::optional<std::array<uint8_t, kTemplateBytes>> cardTemplate(const uint8_t* image, std::string* error) {
  std::vector<uint8_t> copy(image, image + kImageSize);  // the extractor works in its input
  std::array<uint8_t, kTemplateBytes> tpl{};
  extract::extractUnsealedTemplate(copy.data(), tpl.data());
  const int quality = tpl[kTemplateQualityByte];
  if (tpl[kTemplateMagicByte] != kTemplateMagic || tpl[kTemplateCountByte] == 0 || quality < kMinimumTemplateQuality) {
    fail(error, "the image gives no usable template (quality " + std::to_string(quality) + ", " +
                    std::to_string(tpl[kTemplateCountByte]) + " minutiae)");
    return std::nullopt;
  }
  return tpl;
}

}  // namespace fx60::idcard
