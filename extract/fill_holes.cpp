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
    // Growth looks left first: a large region there ends it at once. This is
    // the common case inside the background and in valleys.
    if ((start & (kWidth - 1)) != 0 && image[start - 1] == kLarge) {
      image[start] = kLarge;
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
  for (int i = 0; i < kPixels; ++i)
    if (image[i] != 0) image[i] = kWhite;
}

}  // namespace fx60::extract
