#include "match/view.h"

#include <algorithm>
#include <array>

#include "match/angles.h"
#include "match/sqrt_tables.h"
#include "template/feature_template.h"

namespace fx60::match {
namespace {

constexpr int kNoNeighbourCurvature = 16;
constexpr uint32_t kNeighbourReach = 4096;  // squared distance (64 pixels); only closer neighbours count
constexpr int kDuplicateDistance2 = 3;      // closer than this to the previous minutia: dropped

void decodeSingularPoints(MatchView& view, const uint8_t* tpl) {
  view.singularCount = 0;
  for (int slot = 0; slot < kMaxSingularPoints; ++slot) {
    const SingularPointRecord record = readSingularPoint(tpl, slot);
    // An empty slot, or one of all ones, ends the list.
    if ((record.x == 0 && record.y == 0) || record.x + record.y == 766) break;
    MatchSingularPoint& point = view.singularPoints[view.singularCount++];
    point = MatchSingularPoint{};
    point.y = record.y;
    point.x = record.x;
  }
}

}  // namespace

void decodeView(MatchView& view, const uint8_t* tpl) {
  view.quality = tpl[kTemplateQualityByte] != 0 ? tpl[kTemplateQualityByte] : 32;
  decodeSingularPoints(view, tpl);

  const int n = std::min<int>(tpl[kTemplateCountByte], kMaxViewMinutiae);
  std::array<uint32_t, kMaxViewMinutiae> keys{};
  for (int i = 0; i < n; ++i) {
    const MinutiaRecord record = readMinutiaRecord(tpl, i);
    keys[i] = (static_cast<uint32_t>(record.y) << 23) | (static_cast<uint32_t>(record.x) << 8) |
              DegreeToByteAngle[record.angle];
  }
  std::sort(keys.begin(), keys.begin() + n);

  int previousX = 2000;
  int previousY = 2000;
  int kept = 0;
  for (int i = 0; i < n; ++i) {
    const int x = static_cast<int>((keys[i] >> 8) & 0xFF);
    const int y = static_cast<int>(keys[i] >> 23);
    const int d2 = (previousX - x) * (previousX - x) + (previousY - y) * (previousY - y);
    previousX = x;
    previousY = y;
    if (d2 < kDuplicateDistance2) continue;
    MatchMinutia& m = view.minutiae[kept++];
    m = MatchMinutia{};
    m.y = y;
    m.x = x;
    m.sortKey = keys[i];
    m.weight = 63;
    m.flag = 0;
  }
  view.count = kept;
  neighbourCurvature(view.minutiae, kept);
}

void neighbourCurvature(MatchMinutia* minutiae, int count) {
  for (int p = 0; p < count; ++p) {
    MatchMinutia& P = minutiae[p];
    const int a = P.angle();
    P.curvature = kNoNeighbourCurvature;
    uint32_t best = kNeighbourReach;
    int bestAngle = 0;

    auto consider = [&](const MatchMinutia& Q) {
      const int dx = Q.x - P.x;
      const int dy = Q.y - P.y;
      const uint32_t d2 = static_cast<uint32_t>(dx * dx + dy * dy);
      if (d2 >= best) return;
      const int phi = byteAngleOf(dx, dy);
      // Neighbours across the ridge (to either side) say nothing about its bend.
      if (((phi - a - 48) & 0xFF) <= 32) return;
      if (((phi - a + 80) & 0xFF) <= 32) return;
      best = d2;
      bestAngle = Q.angle();
    };
    // Minutiae are sorted by row: once the row distance alone reaches the best squared
    // distance so far, no further minutia on that side can be closer.
    const auto closeEnough = [&](const MatchMinutia& Q) {
      const int dy = Q.y - P.y;
      return static_cast<uint32_t>(dy * dy) < best;
    };
    for (int q = p - 1; q >= 0 && closeEnough(minutiae[q]); --q) consider(minutiae[q]);
    for (int q = p + 1; q < count && closeEnough(minutiae[q]); ++q) consider(minutiae[q]);

    if (best < kNeighbourReach) {
      const int distance = ceilSqrt(best);
      int delta = (bestAngle - a) & 0x7F;  // orientation difference folded to -64..63
      if (delta >= 64) delta -= 128;
      const uint64_t scaled =
          (static_cast<uint64_t>(delta < 0 ? -delta : delta) * ReciprocalTable[distance + 8]) >> 17;
      P.curvature = static_cast<uint8_t>(std::min<uint64_t>(scaled, 255));
    }
  }
}

}  // namespace fx60::match
