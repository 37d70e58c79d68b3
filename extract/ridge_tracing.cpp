#include "extract/ridge_tracing.h"

#include <algorithm>

#include "extract/grid.h"
#include "extract/ridge_geometry.h"

namespace fx60::extract {
namespace {

constexpr uint8_t kWhite = 255;

// Walkers look at all 8 neighbours, so they stay off the image border.
constexpr bool insideWalkArea(int x, int y) {
  return x >= 1 && x <= kWidth - 2 && y >= 1 && y <= kHeight - 2;
}

// Pixels whitened by a walk with the values they had before, restored in
// reverse order so that a pixel visited twice gets its first value back.
template <int Capacity>
struct WalkRecord {
  int count = 0;
  std::array<PixelPos, Capacity> pixels{};
  std::array<uint8_t, Capacity> originals{};

  void whiten(uint8_t* image, int x, int y) {
    uint8_t& pixel = image[y * kWidth + x];
    if (count < Capacity) {
      pixels[count] = PixelPos{static_cast<int16_t>(x), static_cast<int16_t>(y)};
      originals[count] = pixel;
      ++count;
    }
    pixel = kWhite;
  }
  void restore(uint8_t* image) const {
    for (int i = count - 1; i >= 0; --i) image[pixels[i].y * kWidth + pixels[i].x] = originals[i];
  }
};

// Keeps a walk on its own line: after the first move from the start, the two
// start neighbours across the move are whitened; after the second move they
// get their values back.
class StartGuard {
 public:
  StartGuard(uint8_t* image, int x, int y) : image_(image), x_(x), y_(y) {}

  void afterMove(int stepsMade, int dx, int dy) {
    if (stepsMade == 1) {
      if (dx == 0 && dy != 0) {
        guard(x_ - 1, y_, x_ + 1, y_);
      } else if (dy == 0 && dx != 0) {
        guard(x_, y_ - 1, x_, y_ + 1);
      }
    } else if (stepsMade == 2) {
      release();
    }
  }
  void release() {
    for (int i = count_ - 1; i >= 0; --i) image_[index_[i]] = kept_[i];
    count_ = 0;
  }
  ~StartGuard() { release(); }
  StartGuard(const StartGuard&) = delete;
  StartGuard& operator=(const StartGuard&) = delete;

 private:
  void guard(int x0, int y0, int x1, int y1) {
    index_[0] = y0 * kWidth + x0;
    index_[1] = y1 * kWidth + x1;
    for (int i = 0; i < 2; ++i) {
      kept_[i] = image_[index_[i]];
      image_[index_[i]] = kWhite;
    }
    count_ = 2;
  }

  uint8_t* image_;
  int x_;
  int y_;
  int count_ = 0;
  std::array<int, 2> index_{};
  std::array<uint8_t, 2> kept_{};
};

constexpr int kProbeSteps = 4;

struct ProbeResult {
  WalkRecord<kProbeSteps> record;
  int steps = 0;
  bool endedFree = false;
};

// One probe from the fork pixel: like a ridge trace, but the class is only
// checked from the third pixel on.
void runProbe(uint8_t* image, int x, int y, ProbeResult& probe) {
  StartGuard guard(image, x, y);
  while (insideWalkArea(x, y) && probe.steps < kProbeSteps) {
    const int code = neighbourCode(image, x, y);
    const int cls = kNeighbourClass[code];
    if (probe.steps >= 2 && cls != 1) {
      probe.endedFree = cls == 0;
      break;
    }
    probe.record.whiten(image, x, y);
    const Step step = kRidgeStep[code];
    x += step.dx;
    y += step.dy;
    ++probe.steps;
    guard.afterMove(probe.steps, step.dx, step.dy);
  }
}

// At a fork met during a walk: when exactly one of its two other branches is a
// short spur ending freely, the spur is cut from the skeleton and the walk may
// go on. Returns whether that happened.
bool cutSingleSpur(uint8_t* image, int x, int y) {
  std::array<ProbeResult, 2> probes{};
  runProbe(image, x, y, probes[0]);
  runProbe(image, x, y, probes[1]);
  probes[1].record.restore(image);
  probes[0].record.restore(image);
  std::array<bool, 2> spur{};
  for (int i = 0; i < 2; ++i) spur[i] = probes[i].steps <= 3 && probes[i].endedFree;
  if (spur[0] == spur[1]) return false;
  // The spur's pixels go, P stays: a probe that starts from a P left without
  // ridge neighbours steps (0, 0) and records P more than once.
  const auto& cut = probes[spur[0] ? 0 : 1].record;
  for (int i = 0; i < cut.count; ++i)
    if (cut.pixels[i].x != x || cut.pixels[i].y != y)
      image[cut.pixels[i].y * kWidth + cut.pixels[i].x] = kWhite;
  return true;
}

int angleIn(AngleUnits units, int dx, int dy) {
  return units == AngleUnits::k240 ? angle240(dx, dy) : angle256(dx, dy);
}

void walkBranch(uint8_t* image, int startX, int startY, int minSteps, int maxSteps,
                AngleUnits units, BranchWalk& walk, bool& metFork) {
  // Step index from which a fork on the way is probed.
  const int probeFrom = units == AngleUnits::k240 ? 2 : 3;
  WalkRecord<kMaxWalkSteps> record;
  StartGuard guard(image, startX, startY);
  int x = startX;
  int y = startY;
  int cls = 0;
  int steps = 0;
  while (insideWalkArea(x, y) && steps < maxSteps) {
    int code = neighbourCode(image, x, y);
    cls = kNeighbourClass[code];
    if (steps >= probeFrom && cls == 2) {
      // The walk has met a fork once the probe runs, whether it ends here or
      // goes on past a cut spur.
      metFork = true;
      if (!cutSingleSpur(image, x, y)) {
        cls = 0;
        break;
      }
      code = neighbourCode(image, x, y);
      cls = kNeighbourClass[code];
    }
    if (steps >= 3 && cls != 1) break;
    record.whiten(image, x, y);
    const Step step = kRidgeStep[code];
    x += step.dx;
    y += step.dy;
    ++steps;
    guard.afterMove(steps, step.dx, step.dy);
  }
  guard.release();

  walk.steps = steps;
  walk.length = steps + (cls != 0 ? 64 : 0);
  walk.valid = steps >= minSteps;
  walk.direction = walk.valid ? angleIn(units, x - startX, y - startY) : 255;
  walk.pixelCount = record.count;
  walk.pixels = record.pixels;
  walk.originals = record.originals;
}

}  // namespace

RidgeTrace traceRidge(uint8_t* image, int x, int y, int maxSteps) {
  maxSteps = std::clamp(maxSteps, 0, kMaxWalkSteps);
  WalkRecord<kMaxWalkSteps> record;
  RidgeTrace trace;
  while (insideWalkArea(x, y) && trace.steps < maxSteps) {
    const int code = neighbourCode(image, x, y);
    if (kNeighbourClass[code] != 1) break;
    record.whiten(image, x, y);
    const Step step = kRidgeStep[code];
    x += step.dx;
    y += step.dy;
    ++trace.steps;
  }
  record.restore(image);
  trace.endX = x;
  trace.endY = y;
  return trace;
}

void traceBranches(uint8_t* image, int x, int y, int minSteps, int maxSteps, AngleUnits units,
                   BranchTrace& trace) {
  trace = BranchTrace{};
  if (!insideWalkArea(x, y)) return;
  maxSteps = std::clamp(maxSteps, 0, kMaxWalkSteps);
  for (BranchWalk& walk : trace.walks)
    walkBranch(image, x, y, minSteps, maxSteps, units, walk, trace.metFork);
}

void restoreWalk(uint8_t* image, const BranchWalk& walk) {
  for (int i = walk.pixelCount - 1; i >= 0; --i)
    image[walk.pixels[i].y * kWidth + walk.pixels[i].x] = walk.originals[i];
}

}  // namespace fx60::extract
