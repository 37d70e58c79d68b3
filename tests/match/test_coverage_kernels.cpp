// The coverage analysis's row kernels in their plain and their vector form, run on the
// same cells: both must leave and report the same, bit for bit.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "match/coverage_kernels.h"
#include "tests/support/vector_form.h"

namespace fx60::match {
namespace {

namespace plain = coverage_kernels::plain;

namespace simd = coverage_kernels::fast;

// Cells around the interesting values: balanced, marked, the fill ceiling, and any.
std::vector<uint16_t> randomCells(std::mt19937& rng, size_t n) {
  static constexpr uint16_t kNear[] = {0x7FFE, 0x7FFF, 0x8000, 0x8001, 0x80FD, 0x80FE, 0x80FF, 0x8100, 0, 1, 0xFFFF};
  std::vector<uint16_t> cells(n);
  for (uint16_t& c : cells)
    c = rng() % 3 == 0 ? static_cast<uint16_t>(rng()) : static_cast<uint16_t>(kNear[rng() % std::size(kNear)] + rng() % 3 - 1);
  return cells;
}

TEST(CoverageKernels, FillAndClearRowsAlike) {
  FX60_REQUIRE_VECTOR_FORM();
  std::mt19937 rng(11);
  constexpr int kStride = 40;
  for (int n = 0; n <= 32; ++n) {
    std::vector<uint16_t> a = randomCells(rng, 64), b = a;
    plain::fillCells(a.data() + 3, n, 0x1234);
    simd::fillCells(b.data() + 3, n, 0x1234);
    ASSERT_EQ(a, b) << n;

    const std::vector<uint16_t> before = randomCells(rng, 4 * kStride);
    std::vector<uint16_t> balanceA = before, againstA = before, balanceB = before, againstB = before;
    plain::clearBalanceRows(balanceA.data(), againstA.data(), kStride, 3, n);
    simd::clearBalanceRows(balanceB.data(), againstB.data(), kStride, 3, n);
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < kStride; ++c) {
        const int at = r * kStride + c;
        if (r < 3 && c < n) {
          ASSERT_EQ(balanceB[at], kBalanced);
          ASSERT_EQ(againstB[at], 0);
        } else if (r < 3 && c < (n + 7) / 8 * 8) {
          continue;  // the vector form may clear the rest of its last group
        } else {
          ASSERT_EQ(balanceB[at], before[at]) << n << " " << at;
          ASSERT_EQ(againstB[at], before[at]) << n << " " << at;
        }
        ASSERT_EQ(balanceA[at], r < 3 && c < n ? kBalanced : before[at]);
      }
  }
}

TEST(CoverageKernels, CellBitsAlike) {
  FX60_REQUIRE_VECTOR_FORM();
  std::mt19937 rng(12);
  for (int trial = 0; trial < 20000; ++trial) {
    const std::vector<uint16_t> balance = randomCells(rng, 16);
    std::vector<uint16_t> against = randomCells(rng, 16);
    if (trial % 2 == 0)
      for (int k = 0; k < 16; ++k) against[k] = static_cast<uint16_t>(balance[k] - kBalanced + rng() % 5 - 2);
    const auto a = plain::balanceBits(balance.data(), against.data());
    const auto b = simd::balanceBits(balance.data(), against.data());
    ASSERT_EQ(a.positive, b.positive) << trial;
    ASSERT_EQ(a.negative, b.negative) << trial;
    ASSERT_EQ(plain::belowBalancedBits(balance.data()), simd::belowBalancedBits(balance.data())) << trial;
    ASSERT_EQ(plain::markedBits(balance.data()), simd::markedBits(balance.data())) << trial;
  }
}

TEST(CoverageKernels, FillRowAlike) {
  FX60_REQUIRE_VECTOR_FORM();
  std::mt19937 rng(13);
  for (int first = 0; first < 20; ++first)
    for (int last = first - 1; last < first + 40; ++last) {
      std::vector<uint16_t> a = randomCells(rng, 80), b = a;
      plain::fillRow(a.data(), first, last);
      simd::fillRow(b.data(), first, last);
      ASSERT_EQ(a, b) << first << ".." << last;
    }
}

}  // namespace
}  // namespace fx60::match
