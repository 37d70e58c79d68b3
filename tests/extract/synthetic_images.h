// Small synthetic images for the extraction tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "extract/grid.h"

namespace fx60::extract::testing {

using Image = std::vector<uint8_t>;

inline Image uniformImage(uint8_t grey) { return Image(kPixels, grey); }

inline Image noiseImage(unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> grey(0, 255);
  Image image(kPixels);
  for (auto& p : image) p = static_cast<uint8_t>(grey(random));
  return image;
}

// Dark ridges on a light background, running at `degrees` from +x towards +y,
// `period` pixels apart; only pixels with inside(x, y) carry ridges, the rest is white.
template <typename Inside>
Image stripeImage(double degrees, double period, Inside inside) {
  const double t = degrees * 3.14159265358979323846 / 180.0;
  // Distance across the ridges: along the normal (-sin t, cos t).
  const double nx = -std::sin(t), ny = std::cos(t);
  Image image(kPixels, 255);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      if (inside(x, y)) {
        const double phase = 2 * 3.14159265358979323846 * (x * nx + y * ny) / period;
        image[y * kWidth + x] = static_cast<uint8_t>(std::lround(128 + 100 * std::cos(phase)));
      }
  return image;
}

inline Image stripeImage(double degrees, double period) {
  return stripeImage(degrees, period, [](int, int) { return true; });
}

}  // namespace fx60::extract::testing
