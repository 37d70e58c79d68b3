// Pictures of an extraction for people to inspect: every intermediate image and
// map, and the minutiae drawn over the fingerprint.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "extract/stage_observer.h"
#include "tools/support/image_io.h"

namespace fx60::tool {

// Keeps a copy of everything the pipeline reports.
class ExtractionRecorder : public extract::StageObserver {
 public:
  struct StageImage {
    extract::ImageStage stage;
    std::vector<uint8_t> pixels;
  };
  std::vector<StageImage> images;
  extract::OrientationMap orientation{};
  extract::PeriodMap periods{};
  extract::MinutiaCandidateList candidates{};
  extract::MinutiaCandidateList joinedCandidates{};
  extract::MinutiaList minutiae{};
  int quality = 0;

  void onImage(extract::ImageStage stage, const uint8_t* image) override;
  void onOrientation(const extract::OrientationMap& map, int score) override;
  void onPeriods(const extract::PeriodMap& map) override;
  void onCandidates(const extract::MinutiaCandidateList& list, bool afterJoin) override;
  void onMinutiae(const extract::MinutiaList& list) override;

  const std::vector<uint8_t>* image(extract::ImageStage stage) const;
};

// The fingerprint at twice its size with the minutiae: endings red, bifurcations
// blue, each with a line in its direction.
ColourImage drawMinutiaeOverlay(const uint8_t* image, const extract::MinutiaList& minutiae);

// Writes one numbered picture per stage into `directory` (created if missing).
bool writeStagePictures(const ExtractionRecorder& recorder, const std::string& directory, std::string& error);

}  // namespace fx60::tool
