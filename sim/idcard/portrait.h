// Neutral portrait artwork for virtual cards: a head-and-shoulders silhouette in
// flat colours, drawn here so that no card carries a real person's photo.
#pragma once

#include "sim/idcard/photo_block.h"

namespace fx60::idcard {

inline constexpr int kPortraitVariants = 4;

// A 204 x 252 portrait; variants (taken modulo kPortraitVariants) differ in
// colours and proportions.
Picture drawPortrait(int variant);

}  // namespace fx60::idcard
