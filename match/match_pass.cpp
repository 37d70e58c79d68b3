#include "match/match_pass.h"

#include <algorithm>
#include <array>
#include <cstdlib>

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

constexpr int kMinInnerPairs = 4;
constexpr int kMinOuterPairs = 3;
constexpr int32_t kImplausibleRotationScore = 2816;
constexpr int kRetryCorrection = 3;

// The pair lists of the pass: pass 1 searches side B's pairs (built now) against side
// A's list, pass 2 the lists the first pass prepared. False when either side has too
// few pairs to align anything.
bool setUpPairLists(MatchContext& ctx, int pass) {
  ctx.countA = ctx.viewA.count;
  if (pass == 1) {
    if (ctx.pairCountA < kMinInnerPairs) return false;
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
    if (ctx.innerCount < kMinInnerPairs) return false;
  }
  return ctx.outerCount >= kMinOuterPairs;
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

// The aligned copy is large; one per thread, reused by every candidate.
CandidateAlignment& threadAlignedCopy() {
  thread_local CandidateAlignment aligned;
  return aligned;
}

// The candidates of one pass tried in list order, each followed by at most one retry at
// the rotation its affine refinement suggests; the best result is the pass's.
//
// Only a result above the best so far can matter, so the fine stage may stop early once
// a candidate cannot beat it (or the window's floor), and the pass may stop once a result
// reaches the window's ceiling. Such a result is exact or, where the fine stage stopped
// on reaching the ceiling, a lower bound of the exact one; early stops below the score
// to beat stay under the ceiling. A traced pass runs every candidate in full.
class CandidateTrials {
 public:
  CandidateTrials(MatchContext& ctx, int pass, const RotationCandidates& candidates, ScoreWindow window,
                  PassTrace* trace)
      : ctx_(ctx), pass_(pass), candidates_(candidates), window_(window), trace_(trace) {}

  uint32_t bestResult() {
    uint32_t result = 0;  // of the candidate tried last
    for (int index = 0; index < candidates_.count; ++index) {
      best_ = std::max(best_, result);
      result = tryCandidate(index);
      if (result >= window_.ceiling) break;  // settled
    }
    return std::max(best_, result);
  }

 private:
  // A list candidate, and its refinement retry when the fine stage scored it and its
  // affine correction is large enough.
  uint32_t tryCandidate(int index) {
    const int rotation = candidates_.rotation[index];
    const CandidateOutcome first = tryRotation(rotation, /*isRetry=*/false, index);
    if (first.result >= window_.ceiling) return first.result;
    if (first.kind != CandidateOutcome::kFine || first.result == 0 || std::abs(first.correction) < kRetryCorrection)
      return first.result;
    best_ = std::max(best_, first.result);
    const int refined = (rotation + first.correction) & 0xFF;
    if (retryIsBlocked(refined, index)) return first.result;
    return tryRotation(refined, /*isRetry=*/true, index).result;
  }

  CandidateOutcome tryRotation(int rotation, bool isRetry, int index) {
    tried_[triedCount_++] = rotation;
    const CandidateOutcome* earlier = isRetry ? nullptr : earlierOutcome(rotation, index);
    const CandidateOutcome outcome = earlier != nullptr ? *earlier : evaluate(rotation, isRetry, index);
    outcomes_[triedCount_ - 1] = outcome;
    if (outcome.kind == CandidateOutcome::kFine) lastFineScore_ = outcome.alignScore;
    if (trace_ != nullptr && trace_->triedCount < static_cast<int>(trace_->tried.size()))
      trace_->tried[trace_->triedCount++] = {rotation,          isRetry,           outcome.usable,
                                             outcome.alignScore, outcome.correction, outcome.result};
    return outcome;
  }

  // Alignment, affine refinement and the fine stage of one rotation. A weak or missing
  // alignment falls back to the singular points; a retry that changes nothing repeats
  // the score that went to the fine stage last.
  CandidateOutcome evaluate(int rotation, bool isRetry, int index) {
    CandidateAlignment& aligned = threadAlignedCopy();
    CandidateOutcome outcome;
    outcome.usable = alignCandidate(ctx_, static_cast<uint8_t>(rotation), aligned);
    outcome.alignScore = aligned.score;
    if (!outcome.usable || (!PlausibleRotation[rotation] && aligned.score < kImplausibleRotationScore)) {
      outcome.result = singularFallbackScore(aligned.singularPairs);
      outcome.kind = CandidateOutcome::kFallback;
      return outcome;
    }
    outcome.correction = affineRefine(ctx_, aligned);
    if (isRetry && outcome.correction == 0 && aligned.score == lastFineScore_) {
      outcome.result = static_cast<uint32_t>(std::max(aligned.score, 0));
      outcome.kind = CandidateOutcome::kRetryRepeat;
      return outcome;
    }
    // Results at or below the window's floor need not be exact either.
    outcome.scoreToBeat =
        trace_ == nullptr ? static_cast<int>(std::min<uint32_t>(std::max(best_, window_.floor), INT32_MAX)) : -1;
    outcome.zeroKept = mayRetry(rotation, outcome.correction, isRetry, index);
    FineGoal goal;
    goal.scoreToBeat = outcome.scoreToBeat;
    goal.keepZero = outcome.zeroKept;
    if (trace_ == nullptr) goal.settledFrom = static_cast<int>(std::min<uint32_t>(window_.ceiling, INT32_MAX));
    outcome.result = static_cast<uint32_t>(std::max(
        fineRescore(ctx_, aligned, aligned.score, static_cast<uint8_t>(rotation), outcome.correction, pass_, goal), 0));
    outcome.kind = CandidateOutcome::kFine;
    return outcome;
  }

  // A candidate may repeat a rotation tried before in this pass. Alignment and fine
  // stage depend only on the rotation, so the earlier outcome stands, as long as it was
  // not stopped early where this one needs the exact value.
  const CandidateOutcome* earlierOutcome(int rotation, int index) const {
    for (int t = 0; t < triedCount_ - 1; ++t) {
      if (tried_[t] != rotation) continue;
      const CandidateOutcome& earlier = outcomes_[t];
      if (earlier.kind == CandidateOutcome::kRetryRepeat) return nullptr;
      if (earlier.kind == CandidateOutcome::kFine && earlier.scoreToBeat >= 0 &&
          earlier.result <= static_cast<uint32_t>(earlier.scoreToBeat) &&
          (trace_ != nullptr || (!earlier.zeroKept && mayRetry(rotation, earlier.correction, false, index))))
        return nullptr;
      return &earlier;
    }
    return nullptr;
  }

  // A corrected rotation is not retried when it was tried already or when a later
  // candidate lies within one step of it.
  bool retryIsBlocked(int refined, int index) const {
    if (std::find(tried_.begin(), tried_.begin() + triedCount_, refined) != tried_.begin() + triedCount_) return true;
    for (int later = index + 1; later < candidates_.count; ++later)
      if (std::abs(signedByte(candidates_.rotation[later] - refined)) <= 1) return true;
    return false;
  }

  // Whether a result of this rotation may lead to a retry; such a result must also say
  // whether it is 0.
  bool mayRetry(int rotation, int correction, bool isRetry, int index) const {
    return !isRetry && std::abs(correction) >= kRetryCorrection && !retryIsBlocked((rotation + correction) & 0xFF, index);
  }

  MatchContext& ctx_;
  const int pass_;
  const RotationCandidates& candidates_;
  const ScoreWindow window_;
  PassTrace* const trace_;
  uint32_t best_ = 0;
  std::array<int, 2 * kMaxRotationCandidates> tried_{};
  std::array<CandidateOutcome, 2 * kMaxRotationCandidates> outcomes_{};
  int triedCount_ = 0;
  int32_t lastFineScore_ = -1;  // G of the last candidate that reached the fine stage
};

// The window a pass works to: a traced pass runs in full, and pass 1 needs every
// result in the second-pass band exactly (whether pass 2 follows depends on it).
ScoreWindow passWindow(int pass, PassTrace* trace, ScoreWindow window) {
  if (trace != nullptr) window = ScoreWindow{};
  if (pass == 1) {
    window.floor = std::min(window.floor, kPass2ScoreLow - 1);
    window.ceiling = std::max(window.ceiling, kPass2ScoreHigh + 1);
  }
  return window;
}

}  // namespace

uint32_t runMatchPass(MatchContext& ctx, int pass, PassTrace* trace, ScoreWindow window) {
  if (trace != nullptr) {
    *trace = PassTrace{};
    trace->pass = pass;
  }
  window = passWindow(pass, trace, window);
  if (!setUpPairLists(ctx, pass)) return 0;

  matchPairs(ctx, pass);
  const RotationCandidates candidates = rotationCandidates(ctx.rotationVotes, ctx);
  if (trace != nullptr) trace->candidates = candidates;
  uint32_t result;
  if (candidates.count == 0) {
    // Nothing to align: the singular points paired without turning B decide.
    result = singularFallbackScore(pairSingularPoints(ctx, ctx.viewB.singularPoints, ctx.viewB.singularCount));
  } else {
    result = CandidateTrials(ctx, pass, candidates, window, trace).bestResult();
  }

  if (trace != nullptr) trace->result = result;
  if (pass == 1 && result >= kPass2ScoreLow && result <= kPass2ScoreHigh) preparePass2(ctx);
  return result;
}

}  // namespace fx60::match
