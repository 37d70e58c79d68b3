// Walks along the one-pixel ridges of the skeleton (0 = ridge, non-zero = white).
// Walkers whiten the pixels they pass so that a walk never turns back; callers
// restore them as each use requires. Restoring gives each pixel the value it
// had before the walk, which is the same as setting it back to ridge, because a walk steps only onto ridge pixels; the two differ only
// for a walk started on a white pixel, which would otherwise add ridge that
// was never there.
#pragma once

#include <array>
#include <cstdint>

namespace fx60::extract {

struct PixelPos {
  int16_t x = 0;
  int16_t y = 0;
};

inline constexpr int kMaxWalkSteps = 20;

struct RidgeTrace {
  int steps = 0;
  int endX = 0;
  int endY = 0;
};

// Follows one line from an end point for at most maxSteps steps (capped at
// kMaxWalkSteps); stops where the pixel is no longer a line end. Every pixel it
// passed has its earlier value again afterwards.
RidgeTrace traceRidge(uint8_t* image, int x, int y, int maxSteps);

enum class AngleUnits { k240, k256 };

struct BranchWalk {
  int steps = 0;
  // Steps, plus 64 when the walk did not stop at a free ridge end.
  int length = 0;
  // In the requested units; 255 (and valid = false) when fewer than minSteps.
  int direction = 255;
  bool valid = false;
  // Every pixel the walk whitened, in order (the start first), with the value
  // it had before.
  int pixelCount = 0;
  std::array<PixelPos, kMaxWalkSteps> pixels{};
  std::array<uint8_t, kMaxWalkSteps> originals{};
};

struct BranchTrace {
  std::array<BranchWalk, 3> walks{};
  // Some walk met a fork (the fork probe ran), whether it ended there or went
  // on past a cut spur.
  bool metFork = false;
};

// Follows the three lines that leave the fork at (x, y), one after the other.
// The walked pixels stay white; spurs cut by the fork probe stay removed.
// With 240 units a fork met from the third pixel on is probed; with 256 units
// from the fourth.
void traceBranches(uint8_t* image, int x, int y, int minSteps, int maxSteps, AngleUnits units,
                   BranchTrace& trace);

// Gives the pixels of one walk their values from before it. Walks of one
// trace share the start pixel, so restore them last walk first.
void restoreWalk(uint8_t* image, const BranchWalk& walk);

}  // namespace fx60::extract
