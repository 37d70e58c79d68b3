// Synthetic fingerprints: a finger (class, singular points, orientation, ridge
// period, master ridge pattern) made from a seed, and any number of impressions
// of it, each a 256 x 360 grey image at about 500 dpi. The same seed gives the
// same bytes on every machine.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "synth/finger_pattern.h"
#include "synth/impression.h"
#include "synth/ridge_growth.h"

namespace fx60::synth {

using Image = std::vector<uint8_t>;  // kImageWidth x kImageHeight, row 0 first

struct Finger {
  uint64_t seed = 0;  // the finger's own seed; impressions derive from it
  FingerClass fingerClass = FingerClass::kArch;
  SingularPoints singularPoints;
  RidgePattern master;
  Point padCentre;  // centre of the fingertip's pad on the master
  Outline fingertip;
};

// Finger `number` of the set made from `seed`; its class is drawn with the shares
// of real fingers unless given.
Finger makeFinger(uint64_t seed, uint32_t number, std::optional<FingerClass> fingerClass = std::nullopt);

// Impression `number` of a finger (any number; each is another placement,
// pressure and noise).
Image makeImpression(const Finger& finger, uint32_t number);

}  // namespace fx60::synth
