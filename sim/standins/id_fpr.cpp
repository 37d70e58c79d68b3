// libID_Fpr.so: the standard algorithm interface over our quality score,
// extractor and matcher. Templates are ours (512 bytes); extracted ones carry
// our seal, and the similarity is the published score of our matcher, the same
// that zzMatchFingerprint judges. Either template may be sealed or not.
#include <array>
#include <cstring>
#include <vector>

#include "driver/algorithm_engine.h"
#include "extract/extractor.h"
#include "match/matcher.h"
#include "sim/standins/standin_export.h"
#include "template/feature_template.h"
#include "template/seal.h"

namespace {

constexpr int kDone = 1;
constexpr int kBadArgument = -1;       // a null pointer
constexpr int kInvalidTemplate = -2;   // a template the matcher cannot use
constexpr int kNoTemplate = -3;        // the image gives no usable template
constexpr int kOutOfMemory = -4;

}  // namespace

// Nothing to set up or release: every call stands alone.
STANDIN_EXPORT int FP_Begin(void) { return kDone; }
STANDIN_EXPORT int FP_End(void) { return kDone; }

// The quality score 0..100 of a 256 x 360 grey image.
STANDIN_EXPORT int FP_GetQualityScore(const unsigned char* raw, unsigned char* score) {
  if (raw == nullptr || score == nullptr) return kBadArgument;
  std::vector<uint8_t> copy(raw, raw + fx60::kImageSize);  // the score works in its input
  *score = fx60::extract::computeImageQuality(copy.data());
  return kDone;
}

// The sealed template of a 256 x 360 grey image. The mode and the finger code
// are accepted and not used. The template is written only on success.
STANDIN_EXPORT int FP_FeatureExtract(int /*mode*/, int /*fingerCode*/, const unsigned char* raw,
                                     unsigned char* templateOut) {
  if (raw == nullptr || templateOut == nullptr) return kBadArgument;
  std::array<uint8_t, fx60::kTemplateSize> tpl{};
  const int status = fx60::ExtractSealedTemplate(raw, tpl.data());
  if (status == -2) return kOutOfMemory;
  if (status != 1) return kNoTemplate;
  std::memcpy(templateOut, tpl.data(), tpl.size());
  return kDone;
}

// The similarity 0..1 of two templates; 0 when a template is not usable.
STANDIN_EXPORT int FP_FeatureMatch(const unsigned char* templateA, const unsigned char* templateB, float* similarity) {
  if (templateA == nullptr || templateB == nullptr || similarity == nullptr) return kBadArgument;
  *similarity = 0.0f;
  std::array<uint8_t, fx60::kTemplateSize> first, second;
  std::memcpy(first.data(), templateA, first.size());
  std::memcpy(second.data(), templateB, second.size());
  fx60::VerifyTemplateSeal(second.data());  // unseals a sealed second template, as zzMatchFingerprint does
  float score = 0.0f;
  if (fx60::match::matchTemplates(first.data(), second.data(), &score) != 1) return kInvalidTemplate;
  *similarity = score;
  return kDone;
}
