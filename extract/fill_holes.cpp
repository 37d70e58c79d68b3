#include <array>

#include "extract/minutiae_stages.h"

namespace fx60::extract {
namespace {

// White islands smaller than this become ridge.
constexpr int kLargeRegion = 30;

// Marks used while the regions are grown, in place of the white value 255.
constexpr uint8_t kCollected = 1;
constexpr uint8_t kLarge = 2;
constexpr uint8_t kWhite = 255;

}  // namespace

void fillSmallHoles(uint8_t* image) {
  static_assert(kWidth == 256);
  // Growth is cut at kLargeRegion pixels, so the queue never holds more.
  std::array<int, kLargeRegion> region{};
  for (int start = 0; start < kPixels; ++start) {
    if (image[start] != kWhite) continue;
    // Shortcuts for the common cases in the background and in valleys, with
    // the same outcome as the growth below, which looks left, right, up, down.
    const int x = start & (kWidth - 1);
    if (x > 0 && image[start - 1] == kLarge) {
      image[start] = kLarge;  // stopped at once by the left neighbour
      continue;
    }
    if (x > 0 && x < kWidth - 1 && start >= kWidth && image[start - 1] == 0 &&
        image[start - kWidth] == kLarge && image[start + 1] != kLarge) {
      // Left is ridge, the right neighbour (when white) is collected, then up stops it.
      image[start] = kLarge;
      if (image[start + 1] == kWhite) image[start + 1] = kLarge;
      continue;
    }
    int collected = 0;
    region[collected++] = start;
    image[start] = kCollected;
    bool large = false;
    for (int next = 0; next < collected && !large; ++next) {
      const int pixel = region[next];
      const int x = pixel & (kWidth - 1);
      const int y = pixel >> 8;
      // Left, right, up, down.
      const std::array<bool, 4> inside = {x > 0, x < kWidth - 1, y > 0, y < kHeight - 1};
      const std::array<int, 4> offsets = {-1, 1, -kWidth, kWidth};
      for (int k = 0; k < 4; ++k) {
        if (!inside[k]) continue;
        const int neighbour = pixel + offsets[k];
        if (image[neighbour] == kLarge) {
          large = true;  // part of a region already known to be large
          break;
        }
        if (image[neighbour] != kWhite) continue;
        image[neighbour] = kCollected;
        region[collected++] = neighbour;
        if (collected == kLargeRegion) {
          large = true;
          break;
        }
      }
    }
    const uint8_t fill = large ? kLarge : 0;
    for (int i = 0; i < collected; ++i) image[region[i]] = fill;
  }
  // Unconditional stores keep this loop free of branches.
  for (int i = 0; i < kPixels; ++i) image[i] = image[i] == 0 ? 0 : kWhite;
}

}  // namespace fx60::extract
