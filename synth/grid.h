// A rectangle of values, row-major, row 0 first.
#pragma once

#include <cstddef>
#include <vector>

namespace fx60::synth {

template <typename T>
struct Grid {
  int width = 0;
  int height = 0;
  std::vector<T> values;

  Grid() = default;
  Grid(int w, int h, T fill = T{}) : width(w), height(h), values(static_cast<size_t>(w) * h, fill) {}

  T& at(int x, int y) { return values[static_cast<size_t>(y) * width + x]; }
  const T& at(int x, int y) const { return values[static_cast<size_t>(y) * width + x]; }
  bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
};

}  // namespace fx60::synth
