// The extraction pipeline: one line per stage, in order.
#include "extract/extractor.h"

#include <array>
#include <cstring>

#include "extract/grid.h"
#include "extract/minutiae.h"
#include "extract/minutiae_stages.h"
#include "extract/orientation.h"
#include "extract/preconditioning.h"
#include "extract/ridge_enhancement.h"
#include "extract/ridge_period.h"
#include "extract/ridge_smoothing.h"
#include "extract/stage_observer.h"
#include "template/feature_template.h"

namespace fx60::extract {

namespace {

// Everything one extraction needs besides the caller's image; lives on the stack
// of the call and starts cleared.
struct ExtractionWorkspace {
  std::array<uint8_t, kHalfPixels> halfImageCopy;
  OrientationMap orientation;
  PeriodMap periods;
  MinutiaCandidateList candidates;
};

void show(StageObserver* observer, ImageStage stage, const uint8_t* image) {
  if (observer != nullptr) observer->onImage(stage, image);
}
void showOrientation(StageObserver* observer, const OrientationMap& orientation, int quality) {
  if (observer != nullptr) observer->onOrientation(orientation, quality);
}
void showPeriods(StageObserver* observer, const PeriodMap& periods) {
  if (observer != nullptr) observer->onPeriods(periods);
}
void showCandidates(StageObserver* observer, const MinutiaCandidateList& candidates, bool afterJoin) {
  if (observer != nullptr) observer->onCandidates(candidates, afterJoin);
}
void showMinutiae(StageObserver* observer, const MinutiaList& minutiae) {
  if (observer != nullptr) observer->onMinutiae(minutiae);
}

void preconditionForOrientation(uint8_t* image, std::array<uint8_t, kHalfPixels>* halfImageCopy) {
  meanFilter3x3(image);
  halveImage(image);
  if (halfImageCopy != nullptr) std::memcpy(halfImageCopy->data(), image, kHalfPixels);
  normalizeContrast(image);
  doubleImage(image);
}

}  // namespace

const char* imageStageName(ImageStage stage) {
  switch (stage) {
    case ImageStage::kPreconditioned: return "preconditioned";
    case ImageStage::kUnnormalised: return "unnormalised";
    case ImageStage::kSmoothed: return "smoothed";
    case ImageStage::kEnhanced: return "enhanced";
    case ImageStage::kBinary: return "binary";
    case ImageStage::kHoleFilled: return "hole_filled";
    case ImageStage::kThinned: return "thinned";
    case ImageStage::kJoined: return "joined";
  }
  return "unknown";
}

int runExtraction(uint8_t* image, MinutiaList& minutiae, int& quality, StageObserver* observer) {
  ExtractionWorkspace work{};
  preconditionForOrientation(image, &work.halfImageCopy);
  show(observer, ImageStage::kPreconditioned, image);
  quality = estimateOrientation(image, work.orientation);
  showOrientation(observer, work.orientation, quality);

  std::memcpy(image, work.halfImageCopy.data(), kHalfPixels);
  doubleImage(image);
  show(observer, ImageStage::kUnnormalised, image);
  smoothAlongRidges(image, work.orientation);
  show(observer, ImageStage::kSmoothed, image);
  estimateRidgePeriod(image, work.periods, work.orientation);
  showPeriods(observer, work.periods);
  enhanceRidges(work.orientation, work.periods, image);
  show(observer, ImageStage::kEnhanced, image);

  binarizeImage(image, work.periods);
  show(observer, ImageStage::kBinary, image);
  fillSmallHoles(image);
  show(observer, ImageStage::kHoleFilled, image);
  thinRidges(image);
  show(observer, ImageStage::kThinned, image);

  detectMinutiae(image, work.orientation, work.candidates);
  showCandidates(observer, work.candidates, false);
  joinBrokenRidges(work.candidates, image);
  showCandidates(observer, work.candidates, true);
  show(observer, ImageStage::kJoined, image);
  refineMinutiae(minutiae, work.candidates, image, work.orientation);
  showMinutiae(observer, minutiae);

  return minutiae.count < kMinTemplateMinutiae ? -1 : 0;
}

uint8_t computeImageQuality(uint8_t* image) {
  if (image == nullptr) return 0;
  preconditionForOrientation(image, nullptr);
  OrientationMap orientation{};
  return static_cast<uint8_t>(estimateOrientation(image, orientation));
}

int extractUnsealedTemplate(uint8_t* image, uint8_t* templateOut) {
  return extractUnsealedTemplate(image, templateOut, nullptr);
}

int extractUnsealedTemplate(uint8_t* image, uint8_t* templateOut, StageObserver* observer) {
  if (image == nullptr) return -2;
  BuildEmptyTemplate(templateOut);
  MinutiaList minutiae;
  int quality = 0;
  if (runExtraction(image, minutiae, quality, observer) != 0) return 1;
  if (writeTemplateOf(minutiae, templateOut) != 0) {
    BuildEmptyTemplate(templateOut);
    return 1;
  }
  templateOut[kTemplateQualityByte] = static_cast<uint8_t>(quality);
  updateCheckByte(templateOut);
  return 1;
}

}  // namespace fx60::extract
