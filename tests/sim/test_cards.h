// Virtual cards for tests: a holder with ordinary fields, our drawn portrait as
// the photo, and whatever fingerprint block the test needs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/idcard/card_file.h"
#include "sim/idcard/photo_block.h"
#include "sim/idcard/portrait.h"
#include "tests/sim/pattern_bytes.h"

namespace fx60::sim::testing {

inline idcard::VirtualCard sampleCard(std::vector<uint8_t> fingerprints = {}) {
  using idcard::Field;
  idcard::VirtualCard card;
  card.field(Field::Name) = "张三";
  card.field(Field::Sex) = "1";
  card.field(Field::Nation) = "01";
  card.field(Field::Birth) = "19900307";
  card.field(Field::Address) = "北京市海淀区中关村大街1号";
  card.field(Field::IdNumber) = "11010819900307001X";
  card.field(Field::Authority) = "北京市公安局海淀分局";
  card.field(Field::ValidFrom) = "20200101";
  card.field(Field::ValidTo) = "20400101";
  card.photoBlock = *idcard::makePhotoBlock(idcard::drawPortrait(0), nullptr);
  card.fingerprints = std::move(fingerprints);
  return card;
}

// Writes the card as dir/name and returns the path (empty when it cannot be written).
inline std::filesystem::path writeTestCard(const std::filesystem::path& dir, const std::string& name,
                                           const idcard::VirtualCard& card) {
  const auto path = dir / name;
  return idcard::writeCardFile(path, card, nullptr) ? path : std::filesystem::path();
}

}  // namespace fx60::sim::testing
