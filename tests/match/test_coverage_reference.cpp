// Coverage analysis against a plain cell-by-cell model of the same rules: whole-grid
// painting, a per-cell balance, the outline filled cell by cell, the erosion by the
// fine grid and a breadth-first labelling (the envelope itself is regionEnvelope, tested
// on its own). Random layouts exercise holes, split areas, many components, points off
// the grid and windows at the edges of the square.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "match/coverage.h"

namespace fx60::match {
namespace {

struct Model {
  std::unique_ptr<CoarseGrid> unpaired = std::make_unique<CoarseGrid>();
  std::unique_ptr<CoarseGrid> paired = std::make_unique<CoarseGrid>();
  std::unique_ptr<FineGrid> fine = std::make_unique<FineGrid>();

  static bool paintable(int y, int x) { return y >= 0 && y < 512 && x >= 0 && x < 512; }

  static void cone(CoarseGrid& grid, const ConeKernel& kernel, int y, int x) {
    for (int dr = -kConeReach; dr <= kConeReach; ++dr)
      for (int dc = -kConeReach; dc <= kConeReach; ++dc) {
        uint16_t& cell = grid.at((y >> 3) + dr, (x >> 3) + dc);
        cell = static_cast<uint16_t>(cell + kernel[dr + kConeReach][dc + kConeReach]);
      }
  }
  void bump(int y, int x, int sign) {
    for (int dr = -kBumpReach; dr <= kBumpReach; ++dr)
      for (int dc = -kBumpReach; dc <= kBumpReach; ++dc) {
        uint16_t& cell = fine->at((y >> 4) + dr, (x >> 4) + dc);
        cell = static_cast<uint16_t>(cell + sign * Bump[dr + kBumpReach][dc + kBumpReach]);
      }
  }

  CoverageResult run(const CoverageInput& in) {
    CoverageResult result;
    const int left = std::clamp(in.rect.left, 0, 511), top = std::clamp(in.rect.top, 0, 511);
    const int right = std::clamp(in.rect.right, left, 511), bottom = std::clamp(in.rect.bottom, top, 511);
    const int r0 = (top >> 3) - 5, r1 = (bottom >> 3) + 5, c0 = (left >> 3) - 5, c1 = (right >> 3) + 5;
    // Cells outside the windows hold junk, as nothing may read them.
    std::fill(unpaired->cells.begin(), unpaired->cells.end(), 0x5A5A);
    std::fill(paired->cells.begin(), paired->cells.end(), 0xA5A5);
    std::fill(fine->cells.begin(), fine->cells.end(), 0x1234);
    for (int r = r0; r <= r1; ++r)
      for (int c = c0; c <= c1; ++c) unpaired->at(r, c) = 0, paired->at(r, c) = kBalanced;
    for (int i = (top >> 4) - 5; i <= (bottom >> 4) + 5; ++i)
      for (int j = (left >> 4) - 5; j <= (right >> 4) + 5; ++j) fine->at(i, j) = kBalanced;

    for (size_t s = 0; s < in.singularB.size(); ++s) {
      const int f = in.singularAgreement[s];
      if (f == 0 || in.singularPartner[s] >= in.singularA.size()) continue;
      const MatchSingularPoint& a = in.singularA[in.singularPartner[s]];
      const int y = (a.y + in.singularB[s].y) >> 1, x = (a.x + in.singularB[s].x) >> 1;
      if (!paintable(y, x)) continue;
      const ConeKernel& kernel = f >= 151 || (f >= 31 && f <= 100) ? LargeCone : SmallCone;
      for (int times = f >= 101 ? 2 : 1; times > 0; --times) cone(*paired, kernel, y, x);
    }
    for (const OverlapRecordB& b : in.recordsB)
      if (b.inside != 0 && paintable(b.y, b.x)) cone(*unpaired, SmallCone, b.y, b.x), bump(b.y, b.x, -1);
    std::vector<std::pair<int, int>> position;
    for (const OverlapRecordA& a : in.recordsA) {
      position.push_back({a.y, a.x});
      if (a.mark == 0 && a.partner != 0 && paintable(a.y, a.x)) {
        cone(*unpaired, SmallCone, a.y, a.x);
        bump(a.y, a.x, -1);
      } else if (a.mark >= 2 && a.partner < in.recordsB.size()) {
        const OverlapRecordB& b = in.recordsB[a.partner];
        position.back() = {(a.y + b.y) >> 1, (a.x + b.x) >> 1};
        const auto [y, x] = position.back();
        if (paintable(y, x)) cone(*paired, a.mark <= 9 ? SmallCone : LargeCone, y, x), bump(y, x, 1);
      }
    }
    for (int r = r0; r <= r1; ++r)
      for (int c = c0; c <= c1; ++c) {
        uint16_t& cell = paired->at(r, c);
        cell = static_cast<uint16_t>(cell - unpaired->at(r, c));
        result.v += cell < kBalanced;
      }

    CoverageBox box{r0, c0, c1 - c0, r1 - r0};
    const int seed = regionEnvelope(*paired, box);
    if (seed < 0) return result;
    for (int i = box.top / 2; i <= (box.top + box.height) / 2; ++i)
      for (int j = box.left / 2; j <= (box.left + box.width) / 2; ++j)
        if (fine->at(i, j) < kBalanced)
          for (int k = 0; k < 4; ++k) --paired->at(2 * i + k / 2, 2 * j + k % 2);

    // Breadth-first labelling: the seed's component first, then in scan order.
    const auto marked = [&](int r, int c) {
      return r >= 0 && r <= box.height && c >= 0 && c <= box.width && (paired->at(box.top + r, box.left + c) >> 8) == 0x80;
    };
    const auto label = [&](int r, int c, int value) {
      if (!marked(r, c)) return;
      std::vector<std::pair<int, int>> queue{{r, c}};
      paired->at(box.top + r, box.left + c) = static_cast<uint16_t>(value << 8);
      for (size_t q = 0; q < queue.size(); ++q) {
        const auto [qr, qc] = queue[q];
        for (const auto& [nr, nc] : {std::pair{qr - 1, qc}, {qr + 1, qc}, {qr, qc - 1}, {qr, qc + 1}})
          if (marked(nr, nc)) {
            paired->at(box.top + nr, box.left + nc) = static_cast<uint16_t>(value << 8);
            queue.push_back({nr, nc});
          }
      }
    };
    label(0, seed, kFirstLabel);
    int lastLabel = kFirstLabel;
    for (int r = 0; r <= box.height; ++r)
      for (int c = 0; c <= box.width; ++c)
        if (lastLabel < kLastLabel && marked(r, c)) label(r, c, ++lastLabel);

    std::array<int, 256> sums{};
    std::vector<int> labelOf(in.recordsA.size()), coverageOf(in.recordsA.size());
    for (size_t k = 0; k < in.recordsA.size(); ++k) {
      const int m = in.recordsA[k].mark, r = position[k].first >> 3, c = position[k].second >> 3;
      if (m == 0 || r < r0 || r > r1 || c < c0 || c > c1) continue;
      labelOf[k] = paired->at(r, c) >> 8;
      coverageOf[k] = unpaired->at(r, c);
      if (2 * m - coverageOf[k] > 0) sums[labelOf[k]] += 2 * m - coverageOf[k];
    }
    int best = -1;
    for (int l = kFirstLabel; l <= lastLabel; ++l)
      if (sums[l] > 0 && (best < 0 || sums[l] > sums[best])) best = l;
    if (best < 0) return result;
    for (int r = 0; r <= box.height; ++r)
      for (int c = 0; c <= box.width; ++c) result.k += (paired->at(box.top + r, box.left + c) >> 8) == best;
    result.j = sums[best];
    for (size_t k = 0; k < in.recordsA.size(); ++k)
      if (in.recordsA[k].mark != 0 && labelOf[k] != best)
        result.j += std::max(0, in.recordsA[k].mark - (coverageOf[k] >> 4));
    return result;
  }
};

struct Random {
  uint32_t state;
  int below(int n) {
    state = state * 1664525u + 1013904223u;
    return static_cast<int>((state >> 8) % static_cast<uint32_t>(n));
  }
};

TEST(CoverageAnalysis, AgreesWithACellByCellModelOnRandomLayouts) {
  Random random{2024};
  Model model;
  for (int trial = 0; trial < 400; ++trial) {
    // Clustered points make holes, splits and many small components; a few lie off the grid.
    const int spread = 40 + random.below(480);
    const int cy = random.below(512), cx = random.below(512);
    const auto coordinate = [&](int centre) {
      if (random.below(40) == 0) return random.below(2) ? 512 + random.below(40) : -1 - random.below(40);
      return std::clamp(centre + random.below(spread) - spread / 2, 0, 511);
    };
    std::vector<OverlapRecordB> b(random.below(60));
    for (auto& record : b) {
      record.y = coordinate(cy), record.x = coordinate(cx);
      record.inside = random.below(3) == 0 ? 0 : static_cast<uint8_t>(1 + random.below(200));
    }
    std::vector<OverlapRecordA> a(random.below(kMaxViewMinutiae + 1));
    for (auto& record : a) {
      record.y = coordinate(cy), record.x = coordinate(cx);
      const int kind = random.below(8);
      record.mark = static_cast<uint8_t>(kind < 3 ? 0 : kind == 3 ? 1 : 2 + random.below(kind == 7 ? 250 : 20));
      record.partner = static_cast<uint8_t>(random.below(static_cast<int>(b.size()) + 3));
    }
    std::vector<MatchSingularPoint> singularA(random.below(4)), singularB(random.below(4));
    for (auto* points : {&singularA, &singularB})
      for (auto& point : *points) point = {coordinate(cy), coordinate(cx), 0, {0, 0}, 0, 1, {0, 0}};
    std::vector<uint8_t> agreement(singularB.size()), partner(singularB.size());
    for (size_t s = 0; s < singularB.size(); ++s) {
      agreement[s] = static_cast<uint8_t>(random.below(4) == 0 ? 0 : random.below(256));
      partner[s] = static_cast<uint8_t>(random.below(4));
    }

    CoverageInput input;
    input.singularB = singularB;
    input.singularAgreement = agreement;
    input.singularPartner = partner;
    input.singularA = singularA;
    input.recordsB = b;
    input.recordsA = a;
    const int left = random.below(600) - 40, top = random.below(600) - 40;
    input.rect = {left, top, left + random.below(400), top + random.below(400)};

    const CoverageResult want = model.run(input);
    const CoverageResult got = coverageAnalysis(input);
    ASSERT_EQ(got.j, want.j) << "trial " << trial;
    ASSERT_EQ(got.k, want.k) << "trial " << trial;
    ASSERT_EQ(got.v, want.v) << "trial " << trial;
    // The balance alone gives v and bounds that the components never exceed, and so
    // does the closed outline; the stages run one after the other give the same result.
    CoverageAnalysis stages(input);
    ASSERT_EQ(stages.balance().v, want.v) << "trial " << trial;
    ASSERT_GE(stages.balance().jBound, want.j) << "trial " << trial;
    ASSERT_GE(stages.balance().kBound, want.k) << "trial " << trial;
    stages.closeArea();
    ASSERT_GE(stages.balance().jBound, want.j) << "trial " << trial;
    ASSERT_GE(stages.balance().kBound, want.k) << "trial " << trial;
    const CoverageResult staged = stages.components();
    ASSERT_EQ(staged.j, want.j) << "trial " << trial;
    ASSERT_EQ(staged.k, want.k) << "trial " << trial;
  }
}

}  // namespace
}  // namespace fx60::match
