#include <array>

#include "extract/minutiae_stages.h"
#include "extract/ridge_geometry.h"
#include "extract/ridge_tracing.h"

namespace fx60::extract {
namespace {

constexpr int kEndingTraceSteps = 10;
constexpr int kEndingMinSteps = 4;
constexpr int kForkMinSteps = 4;
constexpr int kForkMaxSteps = 10;
// Length byte of a walk that ran its full course without ending freely.
constexpr int kNotFreeFlag = 64;

void append(MinutiaCandidateList& candidates, int x, int y, uint8_t kind, int direction) {
  MinutiaCandidate& candidate = candidates.entries[candidates.count++];
  candidate.x = static_cast<uint16_t>(x);
  candidate.y = static_cast<uint16_t>(y);
  candidate.kind = kind;
  candidate.direction240 = static_cast<uint8_t>(direction);
  candidate.direction256 = 0;
}

void restoreAllWalks(uint8_t* image, const BranchTrace& trace) {
  for (int w = 2; w >= 0; --w) restoreWalk(image, trace.walks[w]);
}

// Examines a fork pixel. A fork whose two short branches end freely next to a
// long third branch is a ridge ending with two spurs: the spurs are cut and
// the ending is recorded. Returns false when the point is dropped.
bool classifyFork(uint8_t* image, int x, int y, uint8_t& kind, int& direction) {
  BranchTrace trace;
  traceBranches(image, x, y, kForkMinSteps, kForkMaxSteps, AngleUnits::k240, trace);

  int shortWalks = 0;
  int longWalk = -1;
  for (int w = 0; w < 3; ++w) {
    const BranchWalk& walk = trace.walks[w];
    if (walk.length < kEndingMinSteps) {
      ++shortWalks;
    } else if (walk.length - kNotFreeFlag >= kForkMaxSteps) {
      longWalk = w;
    }
  }
  if (!trace.metFork && shortWalks == 2 && longWalk >= 0) {
    // The short walks stay white; the long one and the start become ridge again.
    restoreWalk(image, trace.walks[longWalk]);
    image[y * kWidth + x] = 0;
    kind = kRidgeEnding;
    direction = trace.walks[longWalk].direction;
    return true;
  }

  restoreAllWalks(image, trace);
  for (const BranchWalk& walk : trace.walks)
    if (!walk.valid) return false;
  kind = kBifurcation;
  direction = trace.walks[0].direction;
  return true;
}

}  // namespace

void detectMinutiae(uint8_t* image, const OrientationMap& orientation,
                    MinutiaCandidateList& candidates) {
  for (int r = 1; r <= kGridRows - 2; ++r) {
    // Cells whose column of three (rows r - 1..r + 1) is all foreground; a
    // cell is searched when it and its left and right columns are.
    std::array<bool, kGridColumns> columnForeground{};
    for (int c = 0; c < kGridColumns; ++c)
      columnForeground[c] = !isBackground(orientation[cellIndex(r - 1, c)]) &&
                            !isBackground(orientation[cellIndex(r, c)]) &&
                            !isBackground(orientation[cellIndex(r + 1, c)]);
    for (int c = 1; c <= kGridColumns - 2; ++c) {
      if (candidates.count >= kMaxCandidates) return;
      if (!(columnForeground[c - 1] && columnForeground[c] && columnForeground[c + 1])) continue;
      for (int y = kCellSpacing * r + 1; y <= kCellSpacing * r + 3; ++y) {
        const uint8_t* row = image + y * kWidth + kCellSpacing * c + 1;
        if ((row[0] != 0) & (row[1] != 0) & (row[2] != 0)) continue;  // no ridge here
        for (int x = kCellSpacing * c + 1; x <= kCellSpacing * c + 3; ++x) {
          if (image[y * kWidth + x] != 0) continue;
          const int cls = kNeighbourClass[neighbourCode(image, x, y)];
          if (cls == 1) {
            const RidgeTrace trace = traceRidge(image, x, y, kEndingTraceSteps);
            if (trace.steps < kEndingMinSteps) continue;
            append(candidates, x, y, kRidgeEnding, angle240(trace.endX - x, trace.endY - y));
          } else if (cls == 3) {
            uint8_t kind = 0;
            int direction = 0;
            if (!classifyFork(image, x, y, kind, direction)) continue;
            append(candidates, x, y, kind, direction);
          } else {
            continue;
          }
          if (candidates.count >= kMaxCandidates) return;
        }
      }
    }
  }
}

}  // namespace fx60::extract
