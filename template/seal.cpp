#include "template/seal.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "template/feature_template.h"
#include "template/sha1.h"

namespace fx60 {
namespace {

constexpr int kSealClearFrom = 471;  // records 110 and later are cleared before hashing
constexpr int kSealKeptRecords = 110;

}  // namespace

int SealTemplate(uint8_t* tpl) {
  std::array<uint8_t, kTemplateSize> copy;
  std::memcpy(copy.data(), tpl, kTemplateSize);

  const int count = copy[kTemplateCountByte];
  if (count > kSealKeptRecords) {
    // Records beyond the 110th cannot fit before the seal. The cleared range stops
    // before the check byte, whatever the count claims.
    const int end = std::min(kSealClearFrom + 4 * (count - kSealKeptRecords), int{kTemplateCheckByte});
    std::fill(copy.begin() + kSealClearFrom, copy.begin() + end, uint8_t{0});
    updateCheckByte(copy.data());
  }

  const Sha1Digest digest = sha1(copy.data(), kSealedSpan);
  const uint8_t key = copy[kTemplateCheckByte];
  copy[kTemplateSealByte] = key;
  for (size_t i = 0; i < digest.size(); ++i) copy[kTemplateDigest + i] = digest[i] ^ key;
  updateCheckByte(copy.data());

  std::memcpy(tpl, copy.data(), kTemplateSize);
  return 1;
}

int VerifyTemplateSeal(uint8_t* tpl) {
  if (tpl[3] != 14) return 0;
  std::array<uint8_t, kTemplateSize> copy;
  std::memcpy(copy.data(), tpl, kTemplateSize);
  copy[1] = 1;

  const Sha1Digest digest = sha1(copy.data(), kSealedSpan);
  const uint8_t key = copy[kTemplateSealByte];
  for (size_t i = 0; i < digest.size(); ++i)
    if ((digest[i] ^ key) != copy[kTemplateDigest + i]) return 0;

  std::fill(copy.begin() + kTemplateSealByte, copy.begin() + kTemplateCheckByte, uint8_t{0});
  copy[kTemplateCheckByte] = key;
  std::memcpy(tpl, copy.data(), kTemplateSize);
  return 1;
}

}  // namespace fx60
