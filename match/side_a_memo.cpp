#include "match/side_a_memo.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "match/pair_tables.h"

namespace fx60::match::side_a_memo {

Memo& threadMemo() {
  thread_local std::unique_ptr<Memo> memo = std::make_unique<Memo>();
  return *memo;
}

void remember(const MatchContext& ctx, const uint8_t* preparedTemplate) {
  Memo& memo = threadMemo();
  memo.buffers = ctx.buffers;
  memo.generation = ctx.buffers->sideAGeneration;
  std::memcpy(memo.prepared.data(), preparedTemplate, memo.prepared.size());
  memo.count = ctx.viewA.count;
  memo.singularCount = ctx.viewA.singularCount;
  memo.quality = ctx.viewA.quality;
  std::copy_n(ctx.viewA.minutiae, memo.minutiae.size(), memo.minutiae.begin());
  std::copy_n(ctx.viewA.singularPoints, memo.singularPoints.size(), memo.singularPoints.begin());
  memo.pairCountA = ctx.pairCountA;
  memo.pairLimitB = ctx.pairLimitB;
  memo.extentA = ctx.extentA;
  memo.angleWordsScanned = false;
}

bool recall(MatchContext& ctx, const uint8_t* preparedTemplate) {
  Memo& memo = threadMemo();
  if (memo.buffers == nullptr || memo.buffers != ctx.buffers || memo.generation != ctx.buffers->sideAGeneration ||
      std::memcmp(memo.prepared.data(), preparedTemplate, memo.prepared.size()) != 0)
    return false;
  ctx.viewA.count = memo.count;
  ctx.viewA.singularCount = memo.singularCount;
  ctx.viewA.quality = memo.quality;
  std::copy(memo.minutiae.begin(), memo.minutiae.end(), ctx.viewA.minutiae);
  std::copy(memo.singularPoints.begin(), memo.singularPoints.end(), ctx.viewA.singularPoints);
  ctx.pairCountA = memo.pairCountA;
  ctx.pairLimitB = memo.pairLimitB;
  ctx.extentA = memo.extentA;
  ctx.countA = memo.count;
  // Scanned records differ from their built form only in a guard bit: fillPairAngles
  // restores that form without computing them again.
  if (memo.angleWordsScanned) fillPairAngles(ctx.pairsA, ctx.pairCountA, ctx.viewA.minutiae);
  memo.angleWordsScanned = false;
  return true;
}

void noteAngleWordsScanned() { threadMemo().angleWordsScanned = true; }

}  // namespace fx60::match::side_a_memo
