// Placeholder until the extraction pipeline lands: reports failure, never pretends.
#include "extract/extractor.h"

#include "driver/feature_template.h"

namespace fx60::extract {

uint8_t computeImageQuality(uint8_t* /*image*/) { return 0; }

int extractUnsealedTemplate(uint8_t* image, uint8_t* templateOut) {
  if (image == nullptr) return -2;
  BuildEmptyTemplate(templateOut);
  return 1;
}

}  // namespace fx60::extract
