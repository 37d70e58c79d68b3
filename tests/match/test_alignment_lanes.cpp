// The alignment's narrow-lane paths against the plain arithmetic they stand for:
// turning side B with 16-bit coordinates, and translation peaks summed in 16-bit lanes.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "match/alignment.h"
#include "match/angles.h"

namespace fx60::match {
namespace {

MatchMinutia minutiaAt(int y, int x, uint32_t sortKey) {
  MatchMinutia m{};
  m.y = y;
  m.x = x;
  m.sortKey = sortKey;
  m.weight = 63;
  m.curvature = 16;
  return m;
}

// Every field of a turned minutia as the turn defines it.
void expectPlainTurn(const MatchMinutia& source, const MatchMinutia& turned, uint8_t rotation) {
  const int s = sineOfByte(rotation);
  const int c = cosineOfByte(rotation);
  EXPECT_EQ(turned.y, (c * source.y - s * source.x + 8192) >> 14);
  EXPECT_EQ(turned.x, (c * source.x + s * source.y + 8192) >> 14);
  EXPECT_EQ(turned.sortKey, (source.sortKey & ~0xFFu) | static_cast<uint8_t>(source.sortKey + rotation));
  EXPECT_EQ(turned.weight, source.weight);
  EXPECT_EQ(turned.flag, source.flag);
  EXPECT_EQ(turned.reserved, source.reserved);
  EXPECT_EQ(turned.curvature, source.curvature);
}

TEST(TurnSide, SixteenBitAndWideCoordinatesTurnAlike) {
  std::mt19937 rng(77);
  std::uniform_int_distribution<int> coordinate(-700, 700);
  std::uniform_int_distribution<uint32_t> key(0, 0xFFFFFFFFu);
  std::vector<MatchMinutia> small;
  for (int k = 0; k < 40; ++k) small.push_back(minutiaAt(coordinate(rng), coordinate(rng), key(rng)));
  // Extremes of the 16-bit lanes, and an angle byte of 255 that must not carry.
  small.push_back(minutiaAt(-32768, 32767, 0x123456FFu));
  small.push_back(minutiaAt(32767, -32768, 0xFFFFFFFFu));
  std::vector<MatchMinutia> wide = small;
  wide.push_back(minutiaAt(40000, -3, 0x80u));  // one coordinate beyond 16 bits: the plain path

  for (const std::vector<MatchMinutia>* side : {&small, &wide}) {
    std::vector<MatchMinutia> out(side->size());
    for (int rotation = 0; rotation < 256; rotation += 5) {
      turnSide(side->data(), static_cast<int>(side->size()), static_cast<uint8_t>(rotation), out.data());
      for (size_t k = 0; k < side->size(); ++k) expectPlainTurn((*side)[k], out[k], static_cast<uint8_t>(rotation));
    }
  }
}

// Bins outside 10..1013 are never searched, so a large vote there moves the histogram's
// total past 16-bit lanes without changing its peaks: both lane widths must agree.
TEST(HistogramPeaks, SixteenAndThirtyTwoBitLanesAgree) {
  std::mt19937 rng(4242);
  int twoPeakCases = 0;
  for (int trial = 0; trial < 2000; ++trial) {
    TranslationHistogram h{};
    const int centre = std::uniform_int_distribution<int>(0, 1023)(rng);
    const int spread = std::uniform_int_distribution<int>(1, 120)(rng);
    const int votes = std::uniform_int_distribution<int>(1, 200)(rng);
    uint32_t total = 0;
    for (int v = 0; v < votes && total < 30000; ++v) {
      const int cluster = v % 3 == 0 ? 150 : 0;
      const int bin = (centre + cluster + std::uniform_int_distribution<int>(-spread, spread)(rng)) & 1023;
      const uint32_t vote = std::uniform_int_distribution<uint32_t>(4, 128)(rng);
      h[bin] += vote;
      total += vote;
    }
    h[3] = 0;
    h[1020] = 0;
    const HistogramPeaks narrow = histogramPeaks(h);
    h[3] = 20000;
    h[1020] = 40000;
    const HistogramPeaks wide = histogramPeaks(h);
    ASSERT_EQ(narrow.count, wide.count) << "trial " << trial;
    for (int p = 0; p < narrow.count; ++p) {
      EXPECT_EQ(narrow.peaks[p].position, wide.peaks[p].position) << "trial " << trial;
      EXPECT_EQ(narrow.peaks[p].mass, wide.peaks[p].mass) << "trial " << trial;
    }
    twoPeakCases += narrow.count == 2 ? 1 : 0;
  }
  EXPECT_GT(twoPeakCases, 0);
}

TEST(HistogramPeaks, PeaksAtTheEdgesOfTheSearchedRange) {
  // A peak on the first and on the last searched bin: the centroid reads past them.
  for (const int bin : {10, 11, 1012, 1013}) {
    TranslationHistogram h{};
    h[bin] = 300;
    const HistogramPeaks peaks = histogramPeaks(h);
    ASSERT_EQ(peaks.count, 1) << bin;
    EXPECT_EQ(peaks.peaks[0].mass, 300u) << bin;
    EXPECT_LE(std::abs(peaks.peaks[0].position - bin), 5) << bin;
  }
}

}  // namespace
}  // namespace fx60::match
