// Hand-drawn skeletons (0 = ridge on 255) and maps for the later extraction stages.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "extract/grid.h"
#include "extract/minutiae.h"

namespace fx60::extract::testing {

struct Canvas {
  std::vector<uint8_t> pixels = std::vector<uint8_t>(kPixels, 255);

  uint8_t* data() { return pixels.data(); }
  uint8_t& at(int x, int y) { return pixels[y * kWidth + x]; }
  void set(int x, int y, uint8_t value = 0) { at(x, y) = value; }

  // Draws `count` pixels from (x, y) in steps of (dx, dy).
  void ray(int x, int y, int dx, int dy, int count) {
    for (int i = 0; i < count; ++i) set(x + i * dx, y + i * dy);
  }
  int ridgePixels() const {
    int n = 0;
    for (uint8_t p : pixels) n += p == 0 ? 1 : 0;
    return n;
  }
};

inline OrientationMap foregroundMap() {
  OrientationMap map{};
  map.fill(0);
  return map;
}

inline void addCandidate(MinutiaCandidateList& list, int x, int y, uint8_t kind,
                         uint8_t direction240) {
  MinutiaCandidate& c = list.entries[list.count++];
  c.x = static_cast<uint16_t>(x);
  c.y = static_cast<uint16_t>(y);
  c.kind = kind;
  c.direction240 = direction240;
}

}  // namespace fx60::extract::testing
