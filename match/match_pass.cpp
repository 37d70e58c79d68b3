#include "match/match_pass.h"

#include <algorithm>
#include <array>

#include "match/affine.h"
#include "match/alignment.h"
#include "match/angles.h"
#include "match/fine_stage.h"
#include "match/pair_matching.h"
#include "match/pair_tables.h"
#include "match/second_pass.h"
#include "match/singular_points.h"

namespace fx60::match {
namespace {

constexpr int kSmoothingRadius = 5;
constexpr uint32_t kImplausiblePeakFloor = 2100;  // an implausible top peak must reach this
constexpr uint32_t kWeakPeak = 45;                // at or below: ask the singular points
constexpr uint32_t kNoPeak = 15;                  // at or below: no candidates
constexpr uint32_t kDecisivePeak = 6400;
constexpr int kMaxPeaks = 6;
constexpr int kMinInnerPairs = 4;
constexpr int kMinOuterPairs = 3;
constexpr int32_t kImplausibleRotationScore = 2816;
constexpr int kRetryCorrection = 3;

using Histogram = std::array<uint32_t, kRotationBins>;

// First maximum of the histogram, over all bins or plausible rotations only.
void firstMaximum(const Histogram& s, bool plausibleOnly, int& bin, uint32_t& value) {
  bin = 0;
  value = s[0];
  static_assert(PlausibleRanges[0].first == 0, "the scan starts at bin 0 for both kinds");
  const auto scan = [&](int first, int last) {
    for (int i = first; i <= last; ++i)
      if (s[i] > value) {
        bin = i;
        value = s[i];
      }
  };
  if (!plausibleOnly) {
    scan(1, kRotationBins - 1);
    return;
  }
  for (const BinRange& range : PlausibleRanges) scan(range.first, range.last);
  if (value == 0) bin = 0;
}

// Moves b towards the middle of a plateau around it.
int shiftTowardsPlateau(const Histogram& s, int b, uint32_t c) {
  uint32_t level = 31 * c / 32;
  int offset = 1;
  for (int k = 1; k <= 7; ++k) {
    for (int sign : {1, -1}) {
      const uint32_t v = s[(b + sign * k) & 0xFF];
      if (v >= level) {
        offset = sign * k;
        level = v;
      }
    }
  }
  if (PlausibleRotation[(b + offset) & 0xFF]) b = (b + offset / 2) & 0xFF;
  return b;
}

// Rounded weighted mean of the bins around b that rise above half the peak.
int centroidOfPeak(const Histogram& s, int b, uint32_t c) {
  const int64_t floor = c / 2;
  int64_t weightSum = 0;
  int64_t moment = 0;
  for (int k = b - 9; k <= b + 9; ++k) {
    const int64_t w = static_cast<int64_t>(s[k & 0xFF]) - floor;
    if (w <= 0) continue;
    weightSum += w;
    moment += w * k;
  }
  if (weightSum <= 0) return b;
  return static_cast<int>((16 * weightSum + moment + weightSum / 2) / weightSum - 16) & 0xFF;
}

// What trying one rotation gave.
struct CandidateOutcome {
  enum Kind : uint8_t { kFallback, kRetryRepeat, kFine };
  Kind kind = kFallback;
  bool usable = false;
  int32_t alignScore = 0;
  int correction = 0;
  int scoreToBeat = -1;   // of the fine stage; -1 when it had to give the exact score
  bool zeroKept = false;  // a result at or below scoreToBeat is still 0 only when exact
  uint32_t result = 0;
};

bool isTried(const std::array<int, 2 * kMaxRotationCandidates>& tried, int triedCount, int rotation) {
  return std::find(tried.begin(), tried.begin() + triedCount, rotation) != tried.begin() + triedCount;
}

}  // namespace

RotationCandidates rotationCandidates(const uint32_t* votes, const MatchContext& ctx) {
  RotationCandidates list;
  // Circular moving sum of 11 bins, kept as a running sum.
  Histogram s{};
  uint32_t window = 0;
  for (int k = -kSmoothingRadius; k <= kSmoothingRadius; ++k) window += votes[k & 0xFF];
  for (int i = 0; i < kRotationBins; ++i) {
    s[i] = window;
    window += votes[(i + kSmoothingRadius + 1) & 0xFF] - votes[(i - kSmoothingRadius) & 0xFF];
  }

  int b;
  uint32_t c;
  firstMaximum(s, false, b, c);
  if (!PlausibleRotation[b] && c < kImplausiblePeakFloor) firstMaximum(s, true, b, c);
  const uint32_t threshold = std::max<uint32_t>(c >> 3, 22);

  if (c <= kWeakPeak) {
    int rotation = 0;
    uint32_t strength = 0;
    if (singularPointRotation(ctx, s, rotation, strength) && strength > c) {
      b = rotation;
      c = strength;
    }
  }
  if (c <= kNoPeak) return list;

  while (true) {
    b = shiftTowardsPlateau(s, b, c);
    b = centroidOfPeak(s, b, c);
    list.rotation[list.count] = b;
    list.strength[list.count] = c;
    ++list.count;
    if (c > kDecisivePeak || list.count >= kMaxPeaks) break;
    for (int k = -4; k <= 4; ++k) s[(b + k) & 0xFF] = 0;
    firstMaximum(s, true, b, c);
    if (c <= threshold) break;
  }

  // Two strong peaks close together: their midpoint is worth a try as well.
  const int peaks = list.count;
  if (peaks >= 3 && 2 * list.strength[2] >= list.strength[0]) {
    const int d = signedByte(list.rotation[2] - list.rotation[0]);
    if (std::abs(d) > 8 && std::abs(d) <= 14) {
      list.rotation[list.count] = (list.rotation[0] + d / 2) & 0xFF;
      list.strength[list.count] = 0;
      ++list.count;
    }
  }
  if (peaks >= 2 && 2 * list.strength[1] >= list.strength[0]) {
    const int d = signedByte(list.rotation[1] - list.rotation[0]);
    if (std::abs(d) > 5 && std::abs(d) <= 14) {
      list.rotation[list.count] = (list.rotation[0] + d / 2) & 0xFF;
      list.strength[list.count] = 0;
      ++list.count;
    }
  }
  return list;
}

uint32_t runMatchPass(MatchContext& ctx, int pass, PassTrace* trace, ScoreWindow window) {
  if (trace != nullptr) {
    *trace = PassTrace{};
    trace->pass = pass;
    window = ScoreWindow{};
  }
  if (pass == 1) {
    // Whether pass 2 follows, and from which rotation, needs every result in its band.
    window.floor = std::min(window.floor, kPass2ScoreLow - 1);
    window.ceiling = std::max(window.ceiling, kPass2ScoreHigh + 1);
  }
  ctx.countA = ctx.viewA.count;
  if (pass == 1) {
    if (ctx.pairCountA < kMinInnerPairs) return 0;
    buildPass1PairsB(ctx);
  } else {
    const Pass2Material& material = ctx.pass2;
    ctx.outerPairs = material.outerPairs;
    ctx.outerCount = material.outerCount;
    ctx.innerPairs = material.innerPairs;
    ctx.innerCount = material.innerCount;
    ctx.outerLimit = material.outerLimit;
    ctx.counts.nA = std::min(material.innerCount, kPairsInUse);
    ctx.counts.nB = std::min(material.outerCount, kPairsInUse);
    ctx.counts.nB0 = material.outerCountBeforeWidening;
    if (ctx.innerCount < kMinInnerPairs) return 0;
  }
  if (ctx.outerCount < kMinOuterPairs) return 0;

  matchPairs(ctx, pass);
  const RotationCandidates candidates = rotationCandidates(ctx.rotationVotes, ctx);
  if (trace != nullptr) trace->candidates = candidates;

  uint32_t best = 0;
  uint32_t result = 0;
  int resultRotation = -1;

  if (candidates.count == 0) {
    const SingularPairs pairs = pairSingularPoints(ctx, ctx.viewB.singularPoints, ctx.viewB.singularCount);
    result = singularFallbackScore(pairs);
  } else {
    std::array<int, 2 * kMaxRotationCandidates> tried{};
    std::array<CandidateOutcome, 2 * kMaxRotationCandidates> outcomes{};
    int triedCount = 0;
    int32_t lastFineScore = -1;  // G of the last candidate that reached the fine stage
    // The aligned copy is large; one per thread, reused by every candidate.
    thread_local CandidateAlignment aligned;
    // A corrected rotation is not retried when it was tried already or when a later
    // candidate lies within one step of it.
    const auto retryIsBlocked = [&](int refined, int index) {
      if (isTried(tried, triedCount, refined)) return true;
      for (int later = index + 1; later < candidates.count; ++later)
        if (std::abs(signedByte(candidates.rotation[later] - refined)) <= 1) return true;
      return false;
    };
    // Only a result above the best so far can matter; where it may lead to a retry,
    // also whether it is 0. Traces show every score.
    const auto mayRetry = [&](int rotation, int correction, bool isRetry, int index) {
      return !isRetry && std::abs(correction) >= kRetryCorrection &&
             !retryIsBlocked((rotation + correction) & 0xFF, index);
    };
    const auto evaluate = [&](int rotation, bool isRetry, int index) {
      CandidateOutcome outcome;
      outcome.usable = alignCandidate(ctx, static_cast<uint8_t>(rotation), aligned);
      outcome.alignScore = aligned.score;
      if (!outcome.usable || (!PlausibleRotation[rotation] && aligned.score < kImplausibleRotationScore)) {
        outcome.result = singularFallbackScore(aligned.singularPairs);
        outcome.kind = CandidateOutcome::kFallback;
        return outcome;
      }
      outcome.correction = affineRefine(ctx, aligned);
      if (isRetry && outcome.correction == 0 && aligned.score == lastFineScore) {
        outcome.result = static_cast<uint32_t>(std::max(aligned.score, 0));
        outcome.kind = CandidateOutcome::kRetryRepeat;
        return outcome;
      }
      // Results at or below the window's floor need not be exact either.
      outcome.scoreToBeat =
          trace == nullptr ? static_cast<int>(std::min<uint32_t>(std::max(best, window.floor), INT32_MAX)) : -1;
      outcome.zeroKept = mayRetry(rotation, outcome.correction, isRetry, index);
      FineGoal goal;
      goal.scoreToBeat = outcome.scoreToBeat;
      goal.keepZero = outcome.zeroKept;
      if (trace == nullptr) goal.settledFrom = static_cast<int>(std::min<uint32_t>(window.ceiling, INT32_MAX));
      outcome.result = static_cast<uint32_t>(std::max(
          fineRescore(ctx, aligned, aligned.score, static_cast<uint8_t>(rotation), outcome.correction, pass, goal), 0));
      outcome.kind = CandidateOutcome::kFine;
      return outcome;
    };
    // A candidate may repeat a rotation tried before in this pass. Alignment and fine
    // stage depend only on the rotation, so the earlier outcome stands, as long as
    // it was not stopped early where this one needs the exact value.
    const auto earlierOutcome = [&](int rotation, int index) -> const CandidateOutcome* {
      for (int t = 0; t < triedCount - 1; ++t) {
        if (tried[t] != rotation) continue;
        const CandidateOutcome& earlier = outcomes[t];
        if (earlier.kind == CandidateOutcome::kRetryRepeat) return nullptr;
        if (earlier.kind == CandidateOutcome::kFine && earlier.scoreToBeat >= 0 &&
            earlier.result <= static_cast<uint32_t>(earlier.scoreToBeat) &&
            (trace != nullptr || (!earlier.zeroKept && mayRetry(rotation, earlier.correction, false, index))))
          return nullptr;
        return &earlier;
      }
      return nullptr;
    };

    // A result at the window's ceiling settles the pass: it is exact or, where the
    // fine stage stopped on reaching the ceiling, a lower bound of the exact result
    // (early stops below the score to beat stay under the ceiling).
    bool settled = false;
    for (int index = 0; index < candidates.count && !settled; ++index) {
      if (resultRotation >= 0 && result > best) best = result;
      int rotation = candidates.rotation[index];
      bool isRetry = false;
      while (true) {
        tried[triedCount++] = rotation;
        const CandidateOutcome* earlier = isRetry ? nullptr : earlierOutcome(rotation, index);
        const CandidateOutcome outcome = earlier != nullptr ? *earlier : evaluate(rotation, isRetry, index);
        outcomes[triedCount - 1] = outcome;
        const bool fromFineStage = outcome.kind == CandidateOutcome::kFine;
        const int correction = outcome.correction;
        if (fromFineStage) lastFineScore = outcome.alignScore;
        result = outcome.result;
        resultRotation = rotation;
        if (trace != nullptr && trace->triedCount < static_cast<int>(trace->tried.size())) {
          trace->tried[trace->triedCount++] = {rotation, isRetry, outcome.usable, outcome.alignScore, correction, result};
        }
        settled = result >= window.ceiling;
        if (settled) break;

        if (!fromFineStage || result == 0 || isRetry || std::abs(correction) < kRetryCorrection) break;
        if (result > best) best = result;
        const int refined = (rotation + correction) & 0xFF;
        if (retryIsBlocked(refined, index)) break;
        rotation = refined;
        isRetry = true;
      }
    }
    if (result > best) best = result;
    result = best;
  }

  if (trace != nullptr) trace->result = result;
  if (pass == 1 && result >= kPass2ScoreLow && result <= kPass2ScoreHigh) preparePass2(ctx);
  return result;
}

}  // namespace fx60::match
