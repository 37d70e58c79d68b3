// Quality scoring and the whole extraction, sealed as the export delivers it, on
// arbitrary 256 x 360 images. Inputs shorter than an image are repeated to fill it,
// so that small inputs still make textured images.
#include <array>
#include <vector>

#include "driver/algorithm_engine.h"
#include "extract/extractor.h"
#include "template/feature_template.h"
#include "template/seal.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<uint8_t> image(fx60::kImageSize);
  for (size_t i = 0; i < image.size(); ++i) image[i] = data[i % size];

  {
    std::vector<uint8_t> work = image;
    FX60_FUZZ_CHECK(fx60::extract::computeImageQuality(work.data()) <= 100);
  }

  const std::vector<uint8_t> before = image;
  std::array<uint8_t, fx60::kTemplateSize> sealed{};
  const int status = fx60::ExtractSealedTemplate(image.data(), sealed.data());
  FX60_FUZZ_CHECK(status == 0 || status == 1);
  FX60_FUZZ_CHECK(image == before);  // the caller's image is copied, never changed
  FX60_FUZZ_CHECK(fx60::VerifyTemplateSeal(sealed.data()) == 1);
  FX60_FUZZ_CHECK(fx60::checkByteIsValid(sealed.data()));
  FX60_FUZZ_CHECK(sealed[fx60::kTemplateQualityByte] <= 100);
  const int count = sealed[fx60::kTemplateCountByte];
  FX60_FUZZ_CHECK(count == 0 || (count >= fx60::extract::kMinTemplateMinutiae && count <= 100));
  for (int i = 0; i < count; ++i) {
    const uint8_t* record = sealed.data() + fx60::kTemplateFirstMinutia + 4 * i;
    const int y = record[1] + 256 * (record[3] & 1);
    const int angle = record[2] + 256 * ((record[3] >> 1) & 1);
    FX60_FUZZ_CHECK(y < fx60::kImageHeight && angle < 360);
  }
  return 0;
}
