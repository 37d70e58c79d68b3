// Optional sink for the intermediate results of one extraction, so that tools can
// show every step. Production passes a null pointer; the pipeline then skips the
// notifications and costs nothing extra.
#pragma once

#include <cstdint>

#include "extract/grid.h"
#include "extract/minutiae.h"

namespace fx60::extract {

// Every intermediate 256 x 360 image the pipeline produces, in pipeline order.
enum class ImageStage : uint8_t {
  kPreconditioned,  // mean-filtered, halved, contrast-normalised, doubled
  kUnnormalised,    // mean-filtered, halved and doubled without normalisation
  kSmoothed,        // blurred along the ridges
  kEnhanced,        // oriented band-pass filter
  kBinary,          // ridges 0, everything else 255
  kHoleFilled,
  kThinned,
  kJoined,          // skeleton after bridging broken ridges
};

const char* imageStageName(ImageStage stage);

class StageObserver {
 public:
  virtual ~StageObserver() = default;

  // The image is 256 x 360 and valid only during the call.
  virtual void onImage(ImageStage /*stage*/, const uint8_t* /*image*/) {}
  virtual void onOrientation(const OrientationMap& /*orientation*/, int /*quality*/) {}
  virtual void onPeriods(const PeriodMap& /*periods*/) {}
  // Candidates as found on the skeleton, and again after broken ridges were joined.
  virtual void onCandidates(const MinutiaCandidateList& /*candidates*/, bool /*afterJoin*/) {}
  // The refined selection, before the minimum-count check.
  virtual void onMinutiae(const MinutiaList& /*minutiae*/) {}
};

}  // namespace fx60::extract
