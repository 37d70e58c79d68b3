// The alignment's kernels in their plain and their vector form, run on the same input:
// both must give the same result, bit for bit.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "match/alignment_kernels.h"
#include "match/angles.h"
#include "tests/support/vector_form.h"

namespace fx60::match {
namespace {

namespace plain = alignment_kernels::plain;

namespace simd = alignment_kernels::fast;

MatchMinutia randomMinutia(std::mt19937& rng, int reach) {
  std::uniform_int_distribution<int> coordinate(-reach, reach);
  MatchMinutia m{};
  m.y = coordinate(rng);
  m.x = coordinate(rng);
  m.sortKey = static_cast<uint32_t>(rng());
  m.weight = static_cast<uint8_t>(rng());
  m.flag = static_cast<uint8_t>(rng());
  m.reserved = static_cast<uint8_t>(rng());
  m.curvature = static_cast<uint8_t>(rng());
  return m;
}

TEST(AlignmentKernels, TurnMinutiaeAlikeForNarrowAndWideCoordinates) {
  FX60_REQUIRE_VECTOR_FORM();
  std::mt19937 rng(1);
  for (const int reach : {400, 32767, 70000}) {
    std::vector<MatchMinutia> side;
    for (int k = 0; k < 112; ++k) side.push_back(randomMinutia(rng, reach));
    for (int rotation = 0; rotation < 256; rotation += 3) {
      const int s = sineOfByte(static_cast<uint8_t>(rotation));
      const int c = cosineOfByte(static_cast<uint8_t>(rotation));
      std::vector<MatchMinutia> a(side.size()), b(side.size());
      plain::turnMinutiae(side.data(), static_cast<int>(side.size()), static_cast<uint8_t>(rotation), s, c, a.data());
      simd::turnMinutiae(side.data(), static_cast<int>(side.size()), static_cast<uint8_t>(rotation), s, c, b.data());
      ASSERT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(MatchMinutia)), 0) << reach << " " << rotation;
    }
  }
}

TEST(AlignmentKernels, FlagBlockAlike) {
  FX60_REQUIRE_VECTOR_FORM();
  std::mt19937 rng(2);
  alignas(16) std::array<uint8_t, 16> rotation, endI, endJ;
  for (int trial = 0; trial < 20000; ++trial) {
    for (int k = 0; k < 16; ++k) {
      // Near the window as often as not, so that every outcome occurs.
      rotation[k] = static_cast<uint8_t>(trial % 2 == 0 ? rng() : 100 + rng() % 24);
      endI[k] = static_cast<uint8_t>(rng() % 3 == 0 ? rng() : 30 + rng() % 40);
      endJ[k] = static_cast<uint8_t>(rng() % 3 == 0 ? rng() : 30 + rng() % 40);
    }
    const auto rotationLow = static_cast<uint8_t>(102 + rng() % 4);
    const auto endLow = static_cast<uint8_t>(rng() % 3 == 0 ? rng() : 34);
    const int rotationSpan = static_cast<int>(rng() % 20);
    const int endSpan = static_cast<int>(rng() % 40);
    const auto a = plain::flagBlock(rotation.data(), endI.data(), endJ.data(), rotationLow, rotationSpan, endLow, endSpan);
    const auto b = simd::flagBlock(rotation.data(), endI.data(), endJ.data(), rotationLow, rotationSpan, endLow, endSpan);
    ASSERT_EQ(a.flagged, b.flagged) << trial;
    ASSERT_EQ(a.agreeing, b.agreeing) << trial;
  }
}

TEST(AlignmentKernels, TranslationVotesAlike) {
  FX60_REQUIRE_VECTOR_FORM();
  std::mt19937 rng(3);
  for (const int tolerance : {-1, 0, 13, 40}) {
    std::vector<uint32_t> histA(2 * kTranslationBins), histB(2 * kTranslationBins);
    plain::TranslationVoter a(tolerance, -400, -380, histA.data());
    simd::TranslationVoter b(tolerance, -400, -380, histB.data());
    for (int trial = 0; trial < 5000; ++trial) {
      // Ends that agree within a few pixels, and some that do not.
      const MatchMinutia ai = randomMinutia(rng, 600);
      MatchMinutia aj = randomMinutia(rng, 600);
      const MatchMinutia bi = randomMinutia(rng, 600);
      MatchMinutia bj = bi;
      bj.y = aj.y - (ai.y - bi.y) + static_cast<int>(rng() % 31) - 15;
      bj.x = aj.x - (ai.x - bi.x) + static_cast<int>(rng() % 31) - 15;
      if (trial % 5 == 0) aj = randomMinutia(rng, 600);
      const auto weightI = static_cast<uint8_t>(rng());
      const auto weightJ = static_cast<uint8_t>(8 + rng() % 13);
      alignas(16) std::array<int32_t, 4> endsA, endsB;
      a.vote(ai, aj, bi, bj, weightI, weightJ, endsA.data());
      b.vote(ai, aj, bi, bj, weightI, weightJ, endsB.data());
      ASSERT_EQ(endsA, endsB) << tolerance << " " << trial;
    }
    EXPECT_EQ(histA, histB) << tolerance;
    EXPECT_EQ(a.total(), b.total()) << tolerance;
    EXPECT_EQ(a.rangeY().low, b.rangeY().low);
    EXPECT_EQ(a.rangeY().high, b.rangeY().high);
    EXPECT_EQ(a.rangeX().low, b.rangeX().low);
    EXPECT_EQ(a.rangeX().high, b.rangeX().high);
    if (tolerance < 0) {
      EXPECT_EQ(a.total(), 0u);
    } else if (tolerance > 0) {
      EXPECT_GT(a.total(), 0u);
    }
  }
}

TEST(AlignmentKernels, CloseRecordsAlike) {
  FX60_REQUIRE_VECTOR_FORM();
  std::mt19937 rng(4);
  // The vector form loads the records as aligned 16-byte blocks, as the matcher keeps them.
  alignas(16) std::array<std::array<int32_t, 4>, 301> ends;
  std::uniform_int_distribution<int> offset(-40, 40);
  for (auto& e : ends)
    for (int32_t& v : e) v = offset(rng);
  ends[7] = {100000, -100000, 5, 5};  // beyond the 16-bit lanes
  for (const auto& [ty, tx] : std::vector<std::pair<int, int>>{{0, 0}, {5, -7}, {20000, 0}, {-3, 16385}, {30, 30}}) {
    for (const int count : {0, 1, 2, 3, 300, 301}) {
      std::vector<int> a, b;
      plain::forEachClose(ends.data(), count, ty, tx, 225, [&](int k) { a.push_back(k); });
      simd::forEachClose(ends.data(), count, ty, tx, 225, [&](int k) { b.push_back(k); });
      ASSERT_EQ(a, b) << ty << ", " << tx << ", " << count;
    }
  }
}

// Histograms as the peak search sees them: padded with 24 zero bins on either side,
// narrow ones summing below 2^15.
template <typename Count>
void expectHistogramLanesAlike(std::mt19937& rng, bool narrow) {
  constexpr int kPad = 24;
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<uint32_t> bins(kTranslationBins + 8, 0);
    const int first = 10 + static_cast<int>(rng() % 400);
    const int last = first + static_cast<int>(rng() % 600);
    uint32_t total = 0;
    for (int k = first; k <= last; ++k) {
      const uint32_t vote = rng() % 4 == 0 ? (narrow ? rng() % 40 : rng() % 100000) : 0;
      if (narrow && total + vote >= 32768) break;
      bins[k] = vote;
      total += vote;
    }
    std::vector<Count> prefixA(kTranslationBins + 2 * kPad, 0), prefixB(kTranslationBins + 2 * kPad, 0);
    plain::runningSums(bins.data(), first, last, prefixA.data() + kPad);
    simd::runningSums(bins.data(), first, last, prefixB.data() + kPad);
    for (int k = first; k <= last; ++k) ASSERT_EQ(prefixA[kPad + k], prefixB[kPad + k]) << trial << " " << k;
    // Past the range the prefix holds the total, as the peak search leaves it.
    for (int k = last + 1; k <= last + kPad; ++k) prefixA[kPad + k] = prefixB[kPad + k] = prefixA[kPad + last];

    std::vector<Count> smoothedA(kTranslationBins + 2 * kPad, 0), smoothedB(kTranslationBins + 2 * kPad, 0);
    const uint32_t topA = plain::windowSums(prefixA.data() + kPad, first, last, smoothedA.data() + kPad);
    const uint32_t topB = simd::windowSums(prefixB.data() + kPad, first, last, smoothedB.data() + kPad);
    ASSERT_EQ(topA, topB) << trial;
    for (int k = first; k <= last; ++k) ASSERT_EQ(smoothedA[kPad + k], smoothedB[kPad + k]) << trial << " " << k;
    // The vector form writes whole groups; outside first..last the search sees zeros.
    std::fill(smoothedB.begin() + kPad + last + 1, smoothedB.end(), Count{0});
    const Count* s = smoothedA.data() + kPad;
    ASSERT_EQ(plain::firstIndexOf(s, first, last, topA), simd::firstIndexOf(s, first, last, topA)) << trial;
    for (const auto& [from, to] : std::vector<std::pair<int, int>>{{first, last}, {first + 13, last - 2}, {last, first}}) {
      uint32_t largestA = 7, largestB = 7;
      ASSERT_EQ(plain::firstMaximum(s, from, to, largestA), simd::firstMaximum(s, from, to, largestB)) << trial;
      ASSERT_EQ(largestA, largestB) << trial;
    }
    for (const int p : {first, (first + last) / 2, last}) {
      const uint32_t threshold = static_cast<uint32_t>(rng() % (topA + 1));
      ASSERT_EQ(plain::centroidWithin(s, first, last, p, threshold), simd::centroidWithin(s, first, last, p, threshold))
          << trial << " " << p;
    }
  }
}

TEST(AlignmentKernels, HistogramLanesAlike) {
  FX60_REQUIRE_VECTOR_FORM();
  std::mt19937 rng(5);
  expectHistogramLanesAlike<uint16_t>(rng, true);
  expectHistogramLanesAlike<uint32_t>(rng, true);
  expectHistogramLanesAlike<uint32_t>(rng, false);
}

}  // namespace
}  // namespace fx60::match
