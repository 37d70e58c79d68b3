// Builds native templates from minutia lists for the matcher tests.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "match/match_context.h"
#include "match/pair_tables.h"
#include "match/view.h"
#include "template/feature_template.h"

namespace fx60::match::testing {

struct TestMinutia {
  int x;
  int y;
  int angle;  // template degrees, 0..511
};

using Template = std::array<uint8_t, kTemplateSize>;

inline Template buildTemplate(const std::vector<TestMinutia>& minutiae, uint8_t quality = 80) {
  Template t{};
  BuildEmptyTemplate(t.data());
  t[kTemplateQualityByte] = quality;
  const int n = static_cast<int>(minutiae.size());
  t[kTemplateCountByte] = static_cast<uint8_t>(n);
  t[kTemplateLengthHigh] = static_cast<uint8_t>((4 * n + 9) >> 8);
  t[kTemplateLengthHigh + 1] = static_cast<uint8_t>(4 * n + 9);
  for (int i = 0; i < n && kTemplateFirstMinutia + 4 * i + 3 < kTemplateSealByte; ++i) {
    uint8_t* r = t.data() + kTemplateFirstMinutia + 4 * i;
    r[0] = static_cast<uint8_t>(minutiae[i].x);
    r[1] = static_cast<uint8_t>(minutiae[i].y);
    r[2] = static_cast<uint8_t>(minutiae[i].angle);
    r[3] = static_cast<uint8_t>(0xFC | (((minutiae[i].angle >> 8) & 1) << 1) | ((minutiae[i].y >> 8) & 1));
  }
  updateCheckByte(t.data());
  return t;
}

inline void setSingularPoint(Template& t, int slot, int x, int y) {
  uint8_t* s = t.data() + kTemplateSingularPoints + 3 * slot;
  s[0] = static_cast<uint8_t>(x);
  s[1] = static_cast<uint8_t>(y);
  s[2] = static_cast<uint8_t>(0xFE | ((y >> 8) & 1));
  updateCheckByte(t.data());
}

// A pseudo-random but fixed spread of minutiae inside the image.
inline std::vector<TestMinutia> scatteredMinutiae(int count, uint32_t seed) {
  std::vector<TestMinutia> out;
  uint32_t state = seed;
  auto next = [&state]() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  while (static_cast<int>(out.size()) < count) {
    TestMinutia m{static_cast<int>(30 + next() % 196), static_cast<int>(30 + next() % 300),
                  static_cast<int>(next() % 360)};
    bool clash = false;
    for (const TestMinutia& o : out)
      if ((o.x - m.x) * (o.x - m.x) + (o.y - m.y) * (o.y - m.y) < 100) clash = true;
    if (!clash) out.push_back(m);
  }
  return out;
}

// A minutia of the matcher's view at (y, x) with a byte angle and full weight; its
// sort key orders by row, then column.
inline MatchMinutia viewMinutia(int y, int x, int angle) {
  MatchMinutia m{};
  m.y = y;
  m.x = x;
  m.sortKey = (static_cast<uint32_t>(y) << 23) | (static_cast<uint32_t>(x) << 8) | static_cast<uint8_t>(angle);
  m.weight = 63;
  return m;
}

// Both sides decoded and their pair lists built for the first pass, as a comparison
// prepares them.
struct PairedSides {
  MatchContext ctx;
  PairedSides(const std::vector<TestMinutia>& a, const std::vector<TestMinutia>& b) {
    resetContext(ctx, threadWorkBuffers());
    const auto ta = buildTemplate(a);
    const auto tb = buildTemplate(b);
    decodeView(ctx.viewA, ta.data());
    decodeView(ctx.viewB, tb.data());
    preparePassTables(ctx);
    buildPass1PairsB(ctx);
  }
};

}  // namespace fx60::match::testing
