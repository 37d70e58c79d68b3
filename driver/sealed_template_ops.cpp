#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "driver/algorithm_engine.h"
#include "extract/extractor.h"
#include "match/matcher.h"
#include "template/feature_template.h"
#include "template/seal.h"

namespace fx60 {

namespace {

constexpr int kMinimumTemplateQuality = 20;

}  // namespace

std::atomic<int32_t>& extractArmed() {
  static std::atomic<int32_t> armed{0};
  return armed;
}

AlgorithmEngine defaultAlgorithmEngine() {
  return AlgorithmEngine{&extract::computeImageQuality, &extract::extractUnsealedTemplate,
                         &match::matchTemplates};
}

AlgorithmEngine& algorithmEngine() {
  static AlgorithmEngine engine = defaultAlgorithmEngine();
  return engine;
}

int ExtractSealedTemplate(const uint8_t* image, uint8_t* templateOut) {
  extractArmed().store(1);

  std::array<uint8_t, kTemplateSize> local{};
  int status;
  if (extractArmed().load() == 0) {
    status = -9;
  } else {
    std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[kImageSize]);
    if (!copy) {
      status = -2;
    } else if (image == nullptr) {
      status = algorithmEngine().extractUnsealed(nullptr, local.data());
    } else {
      std::memcpy(copy.get(), image, kImageSize);
      status = algorithmEngine().extractUnsealed(copy.get(), local.data());
    }
  }

  int sealedStatus = 0;
  if (SealTemplate(local.data()) == 1) {
    std::memcpy(templateOut, local.data(), kTemplateSize);
    sealedStatus = status;
  }
  extractArmed().store(0);

  if (sealedStatus == 1 && templateOut[kTemplateQualityByte] < kMinimumTemplateQuality) return 0;
  return sealedStatus;
}

int MatchSealedTemplates(const uint8_t* templateA, const uint8_t* templateB, float* score) {
  *score = 0.0f;
  std::array<uint8_t, kTemplateSize> first;
  std::array<uint8_t, kTemplateSize> second;
  std::memcpy(first.data(), templateA, kTemplateSize);
  std::memcpy(second.data(), templateB, kTemplateSize);
  if (VerifyTemplateSeal(second.data()) != 1) return -10;
  return algorithmEngine().matchTemplates(first.data(), second.data(), score);
}

}  // namespace fx60
