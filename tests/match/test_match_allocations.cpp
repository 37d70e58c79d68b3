// Comparisons reuse their thread's work buffers: after the first comparison on a
// thread, no comparison allocates from the heap.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "match/matcher.h"
#include "template_builder.h"

namespace {
std::atomic<long> allocations{0};
}

// Once these replacements are inlined, GCC takes the free() of memory from the
// replaced operator new for a mismatched release.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace fx60::match {
namespace {

TEST(MatchAllocations, NoHeapUseAfterTheFirstComparisonOnAThread) {
  const auto base = testing::scatteredMinutiae(40, 11);
  std::vector<testing::TestMinutia> moved = base;
  for (auto& m : moved) m.x = std::min(250, m.x + 4);
  const testing::Template a = testing::buildTemplate(base);
  const testing::Template b = testing::buildTemplate(moved);
  const testing::Template c = testing::buildTemplate(testing::scatteredMinutiae(40, 99));
  float score = 0;
  matchTemplates(a.data(), b.data(), &score);  // the thread's buffers are made here

  const long before = allocations.load();
  for (int round = 0; round < 5; ++round) {
    matchTemplates(a.data(), b.data(), &score);
    matchTemplates(a.data(), c.data(), &score);
    matchTemplates(c.data(), b.data(), &score);
  }
  EXPECT_EQ(allocations.load() - before, 0);
  EXPECT_GT(score, -1.0f);
}

}  // namespace
}  // namespace fx60::match
