#include "match/alignment.h"

#include <algorithm>
#include <cstddef>
#include <memory>

#include "match/alignment_kernels.h"
#include "match/alignment_tables.h"
#include "match/angles.h"
#include "match/pair_tables.h"
#include "match/sqrt_tables.h"

namespace fx60::match {
namespace {

namespace kernels = alignment_kernels::fast;
using alignment_kernels::kPeakReach;
using alignment_kernels::BlockFlags;

constexpr int kHistogramMidBin = 512;
constexpr int kRotationFlagReach = 9;
constexpr uint32_t kSingularVote = 4;
constexpr int kMinTranslationScore = 192;
constexpr int kMaxEndAngleGap = 16;
constexpr int kMaxEndDistance2 = 225;  // 15 pixels
constexpr int kNoPartner = 255;


// What the alignment needs of each record of one match list, in columns so that the
// rotation and end-angle tests run sixteen records at a time. None of it depends on
// the candidate rotation, so it is built once per list and shared by all candidates.
inline constexpr int kIndexCapacity = (kMaxPairRecords + 15) / 16 * 16;
struct MatchIndex {
  int count = 0;
  const PairMatch* list = nullptr;
  uint8_t generation = 0;  // also written to the list's end record while the index is current
  alignas(16) std::array<uint8_t, kIndexCapacity> rotation{};  // dirA - dirB
  // Angle of A's end minus the untouched B end's angle; the turned B end differs by the rotation.
  alignas(16) std::array<uint8_t, kIndexCapacity> endTurnI{};
  alignas(16) std::array<uint8_t, kIndexCapacity> endTurnJ{};
  std::array<int16_t, kIndexCapacity> score{};  // record score once computed, -1 before
};

// The y and x translation histograms.
using TranslationHistograms = std::array<TranslationHistogram, 2>;
static_assert(sizeof(TranslationHistograms) == 2 * sizeof(TranslationHistogram));

// The records that may score under a translation close enough to their ends (those
// whose end angles agree): each one's index and the offsets of its two ends from A's
// ends with the turned, not yet moved, copy of B. A record's score is needed only once
// a translation brings both ends within reach, and is computed then.
struct ScorableRecords {
  std::array<uint16_t, kMaxPairRecords> index;
  // dy and dx of the i end, then of the j end.
  alignas(16) std::array<std::array<int32_t, 4>, kMaxPairRecords> ends;
};

// A record index and its alignment score, for the partner assignment.
struct ScoredRecord {
  uint16_t index;
  uint8_t score;
};

// Histograms, record lists and assignment chains, reused by every candidate on this
// thread. The histograms are kept all zero between uses.
struct AlignmentWork {
  TranslationHistograms histograms{};
  MatchIndex index;
  ScorableRecords scorable{};
  std::array<ScoredRecord, kMaxPairRecords> scored{};
  // Associations of A minutiae with B minutiae, one chain per A minutia.
  struct Association {
    uint8_t b;
    int16_t next;
    uint32_t weight;
  };
  std::array<Association, 2 * kMaxPairRecords> associations{};
  std::array<int16_t, kMaxViewMinutiae> chainHead{};
  std::array<int16_t, kMaxViewMinutiae> chainTail{};
};

AlignmentWork& alignmentWork() {
  thread_local std::unique_ptr<AlignmentWork> work = std::make_unique<AlignmentWork>();
  return *work;
}

int absInt(int v) { return v < 0 ? -v : v; }

int histogramBin(int displacement, int offset) {
  return (displacement - (offset - kHistogramMidBin)) & (kTranslationBins - 1);
}


void moveMinutiae(MatchMinutia* minutiae, int count, int dy, int dx) {
  for (int k = 0; k < count; ++k) {
    minutiae[k].y += dy;
    minutiae[k].x += dx;
  }
}

}  // namespace

TurnOffset turnSide(const MatchMinutia* minutiae, int count, uint8_t rotation, MatchMinutia* out) {
  const int s = sineOfByte(rotation);
  const int c = cosineOfByte(rotation);
  kernels::turnMinutiae(minutiae, count, rotation, s, c, out);
  // The centre is turned without the rounding term, as the offset has always been formed.
  const int centre = kRotationCentre;
  const int turnedY = (c * centre - s * centre) >> 14;
  const int sumX = c * centre + s * centre;
  const int turnedX = (sumX >> 14) + (sumX < 0 ? 1 : 0);
  return {centre - turnedY, centre - turnedX};
}

void turnSingular(const MatchSingularPoint* points, int count, uint8_t rotation, MatchSingularPoint* out) {
  const int s = sineOfByte(rotation);
  const int c = cosineOfByte(rotation);
  for (int k = 0; k < count; ++k) {
    const MatchSingularPoint& p = points[k];
    MatchSingularPoint turned = p;
    const int y = c * p.y - s * p.x;
    turned.y = (y >> 14) + (y < 0 ? 1 : 0);
    turned.x = (s * p.y + c * p.x) / 16384;
    turned.angle = static_cast<uint8_t>(p.angle + rotation);
    turned.angles[0] = static_cast<uint8_t>(p.angles[0] + rotation);
    turned.angles[1] = static_cast<uint8_t>(p.angles[1] + rotation);
    out[k] = turned;
  }
}

namespace {

int recordCount(const MatchContext& ctx) { return std::clamp(ctx.matchCount, 0, kMaxPairRecords); }

// The angles of a view's minutiae by minutia number (0 past the view's count), so that a
// record's end angles are plain byte lookups.
using AngleTable = std::array<uint8_t, 256>;
void fillAngleTable(const MatchView& view, AngleTable& angles) {
  const int count = std::clamp(view.count, 0, kMaxViewMinutiae);
  for (int k = 0; k < count; ++k) angles[k] = view.minutiae[k].angle();
  std::fill(angles.begin() + count, angles.end(), uint8_t{0});
}

void buildMatchIndex(const MatchContext& ctx, MatchIndex& index) {
  const int count = recordCount(ctx);
  AngleTable anglesA;
  AngleTable anglesB;
  fillAngleTable(ctx.viewA, anglesA);
  fillAngleTable(ctx.viewB, anglesB);
  for (int k = 0; k < count; ++k) {
    const PairMatch& m = ctx.matches[k];
    index.rotation[k] = m.rotation();
    index.endTurnI[k] = static_cast<uint8_t>(anglesA[m.aI] - anglesB[m.bForAi]);
    index.endTurnJ[k] = static_cast<uint8_t>(anglesA[m.aJ] - anglesB[m.bForAj]);
  }
  std::fill_n(index.score.begin(), count, int16_t{-1});
  index.count = count;
  index.list = ctx.matches;
  index.generation = static_cast<uint8_t>(index.generation % 255 + 1);
}

// The index of the current match list, built on the first candidate of the list. The
// list's end record, rewritten whenever a list is built, carries the mark of the index
// that belongs to it.
const MatchIndex& currentMatchIndex(MatchContext& ctx, MatchIndex& index) {
  PairMatch& end = ctx.matches[recordCount(ctx)];
  if (index.list == ctx.matches && index.count == recordCount(ctx) && end.spare == index.generation) return index;
  buildMatchIndex(ctx, index);
  end.spare = index.generation;
  return index;
}

// The windows of a candidate rotation: a byte b lies within r steps of c when
// (uint8)(b - c + r) <= 2r.
struct RotationWindow {
  explicit RotationWindow(uint8_t rotation)
      : rotationLow(static_cast<uint8_t>(rotation - kRotationFlagReach)),
        endLow(static_cast<uint8_t>(rotation - kMaxEndAngleGap)) {}
  uint8_t rotationLow;
  uint8_t endLow;
};

// Of the sixteen records from base: those whose rotation lies within 9 steps of the
// candidate's (flagged), and those of them whose both turned end angles lie within 16
// steps of A's (agreeing), one bit per record.
inline BlockFlags flagBlock(const MatchIndex& index, int base, RotationWindow window) {
  BlockFlags flags = kernels::flagBlock(&index.rotation[base], &index.endTurnI[base], &index.endTurnJ[base],
                                        window.rotationLow, 2 * kRotationFlagReach, window.endLow, 2 * kMaxEndAngleGap);
  // Entries past the list are not records.
  if (index.count - base < 16) {
    const uint32_t present = (1u << (index.count - base)) - 1;
    flags.flagged &= present;
    flags.agreeing &= present;
  }
  return flags;
}

}  // namespace

namespace {


// The score a flagged record earns once both of its ends lie within reach, given the
// end-angle turns (each within 16 steps).
int recordScore(const MatchContext& ctx, const PairMatch& m, int turnI, int turnJ) {
  const MinutiaPair& a = ctx.innerPairs[m.innerPairIndex()];
  const MinutiaPair& b = ctx.outerPairs[m.outerPairIndex()];
  // Length mismatch relative to the tolerance of the shorter pair.
  const int shorterLength = a.d2 < b.d2 ? a.length : b.length;
  const uint32_t d2Gap = a.d2 > b.d2 ? a.d2 - b.d2 : b.d2 - a.d2;
  const int d = std::min(shorterLength, kLengthScaleSize - 1);
  const uint32_t hi = std::max<uint32_t>(toleranceOf(d).hi, 1);
  // Pair lengths stay below 380, so the products fit 32 bits.
  const int p = d2Gap >= hi ? 128 : static_cast<int>(std::min<uint32_t>(d2Gap * 128u / hi, 128u));

  // Angle residuals of both ends relative to the pair direction, and of the turn.
  const int aLo = static_cast<uint8_t>(a.relAngles);
  const int aHi = static_cast<uint8_t>(a.relAngles >> 16);
  const int bLo = static_cast<uint8_t>(b.relAngles);
  const int bHi = static_cast<uint8_t>(b.relAngles >> 16);
  const bool straight = m.bForAi < m.bForAj;
  const int e1 = signedByte(aLo - (straight ? bLo : bHi));
  const int e2 = signedByte(aHi - (straight ? bHi : bLo));
  const int e3 = signedByte(turnI - turnJ);
  const int e = e1 * e1 + e2 * e2 + e3 * e3;
  const int t = e < kResidualWeightSize ? ResidualWeight[e] : 469 - e;
  if (t <= 0) return 0;

  const uint32_t o1 = (static_cast<uint32_t>(LengthMismatchWeight[p]) * static_cast<uint32_t>(t) * 2925u) >> 9;
  const int32_t lengthTerm = ((d * 13844 + 991043) * (64 - p) + 901775360) >> 21;
  const uint32_t q = static_cast<uint32_t>(LengthScale[d] * lengthTerm) + o1;
  return static_cast<int>(std::min<uint32_t>(o1 * 258u / q, 255u));
}

bool withinReach(int dy, int dx) { return dy * dy + dx * dx <= kMaxEndDistance2; }

// A record's score, computed on first use and kept with the index. The end-angle
// residual of a record does not change with the rotation (both turns move by it).
int scoreOf(const MatchContext& ctx, MatchIndex& index, int k) {
  if (index.score[k] < 0)
    index.score[k] = static_cast<int16_t>(
        recordScore(ctx, ctx.matches[k], signedByte(index.endTurnI[k]), signedByte(index.endTurnJ[k])));
  return index.score[k];
}

// Translation histograms, the bins that received votes in each and the sum of the votes
// cast into each.
struct TranslationVotes {
  explicit TranslationVotes(TranslationHistograms& both) : histograms(both) {}
  // y then x, side by side so that one base reaches both.
  TranslationHistograms& histograms;
  TranslationHistogram& y = histograms[0];
  TranslationHistogram& x = histograms[1];
  VotedRange rangeY;
  VotedRange rangeX;
  uint64_t total = 0;
  void add(int binY, int binX, uint32_t vote) {
    y[binY] += vote;
    x[binX] += vote;
    total += vote;
    widen(rangeY, binY, binY);
    widen(rangeX, binX, binX);
  }
  // Votes cast elsewhere into the same histograms.
  void merge(VotedRange votedY, VotedRange votedX, uint64_t cast) {
    widen(rangeY, votedY.low, votedY.high);
    widen(rangeX, votedX.low, votedX.high);
    total += cast;
  }
  static void widen(VotedRange& range, int low, int high) {
    range.low = std::min(range.low, low);
    range.high = std::max(range.high, high);
  }
};

// Votes of the flagged records for translations of the turned copy. On the way, the
// records whose end angles agree are collected with their end offsets: both read the
// same ends. Returns the number collected.
inline int castRecordVotes(const MatchContext& ctx, MatchIndex& index, RotationWindow window, const MatchMinutia* turnedB,
                           TurnOffset offset, TranslationVotes& votes, ScorableRecords& scorable) {
  const MatchMinutia* minutiaeA = ctx.viewA.minutiae;
  kernels::TranslationVoter voter(ctx.translationTolerance, offset.y - kHistogramMidBin, offset.x - kHistogramMidBin,
                                  votes.histograms[0].data());
  const PairMatch* const matches = ctx.matches;
  int collected = 0;
  for (int base = 0; base < index.count; base += 16) {
    const BlockFlags flags = flagBlock(index, base, window);
    for (uint32_t bits = flags.flagged; bits != 0; bits &= bits - 1) {
      const unsigned bit = static_cast<unsigned>(__builtin_ctz(bits));
      const size_t k = static_cast<size_t>(base) + bit;
      const PairMatch& m = matches[k];
      // The ends go to the next free slot, which only a collected record keeps.
      voter.vote(minutiaeA[m.aI], minutiaeA[m.aJ], turnedB[m.bForAi], turnedB[m.bForAj], m.weightI, m.weightJ,
                 scorable.ends[collected].data());
      if (((flags.agreeing >> bit) & 1u) == 0) continue;
      scorable.index[collected] = static_cast<uint16_t>(k);
      ++collected;
    }
  }
  votes.merge(voter.rangeY(), voter.rangeX(), voter.total());
  return collected;
}

// Each singular pair votes over the 21 bins around its displacement.
void castSingularVotes(const SingularPairs& singular, TurnOffset offset, TranslationVotes& votes) {
  for (const SingularPairs::Pair& pair : singular.slots) {
    if (!pair.used) continue;
    const int dx = pair.a.x - pair.b.x;
    const int dy = pair.a.y - pair.b.y;
    for (int k = -kPeakReach; k <= kPeakReach; ++k)
      votes.add(histogramBin(dy + k, offset.y), histogramBin(dx + k, offset.x), kSingularVote);
  }
}

// The translations the histogram peaks give; leaves the histograms all zero.
TranslationCandidates translationsFromVotes(TranslationVotes& votes, TurnOffset offset) {
  const VotedRange rangeX = votes.rangeX;
  const VotedRange rangeY = votes.rangeY;
  HistogramPeaks peaksX = peaksWithin(votes.x, rangeX, votes.total);
  // Without a peak in x there is no translation, whatever y holds.
  HistogramPeaks peaksY = peaksX.count > 0 ? peaksWithin(votes.y, rangeY, votes.total) : HistogramPeaks{};
  if (rangeX.high >= 0) std::fill(votes.x.begin() + rangeX.low, votes.x.begin() + rangeX.high + 1, 0u);
  if (rangeY.high >= 0) std::fill(votes.y.begin() + rangeY.low, votes.y.begin() + rangeY.high + 1, 0u);

  TranslationCandidates result;
  if (peaksX.count == 0 || peaksY.count == 0) return result;
  // With two peaks the second-found one is tried first.
  if (peaksX.count == 2) std::swap(peaksX.peaks[0], peaksX.peaks[1]);
  if (peaksY.count == 2) std::swap(peaksY.peaks[0], peaksY.peaks[1]);
  for (int i = 0; i < peaksY.count; ++i)
    for (int j = 0; j < peaksX.count; ++j)
      result.candidates[result.count++] = {offset.y - kHistogramMidBin + peaksY.peaks[i].position,
                                           offset.x - kHistogramMidBin + peaksX.peaks[j].position};
  return result;
}

// Visits, in order, the collected records whose both ends lie within reach once the
// turned copy is moved by the translation.
template <typename Visit>
void forEachClose(const ScorableRecords& records, int count, TranslationCandidate t, Visit visit) {
  kernels::forEachClose(records.ends.data(), count, t.ty, t.tx, kMaxEndDistance2, visit);
}

// Sum of the collected records' scores with the turned copy moved by the translation.
int placedScore(const MatchContext& ctx, MatchIndex& index, const ScorableRecords& records, int count,
                TranslationCandidate t) {
  int sum = 0;
  forEachClose(records, count, t, [&](int k) { sum += scoreOf(ctx, index, records.index[k]); });
  return sum;
}

// The collected records that score under the translation, in record order, and the
// sum of their scores.
struct ScoredList {
  int count = 0;
  int sum = 0;
};
ScoredList scoredRecords(const MatchContext& ctx, AlignmentWork& work, int count, TranslationCandidate t) {
  ScoredList list;
  forEachClose(work.scorable, count, t, [&](int k) {
    const uint16_t record = work.scorable.index[k];
    const int score = scoreOf(ctx, work.index, record);
    if (score == 0) return;
    work.scored[list.count++] = {record, static_cast<uint8_t>(score)};
    list.sum += score;
  });
  return list;
}

}  // namespace

TranslationCandidates translationCandidates(MatchContext& ctx, uint8_t rotation, const MatchMinutia* turnedB,
                                            TurnOffset offset, const SingularPairs& singular,
                                            TranslationHistogram& histX, TranslationHistogram& histY) {
  // Standalone use: the records may have changed since any earlier call.
  AlignmentWork& work = alignmentWork();
  buildMatchIndex(ctx, work.index);
  const RotationWindow window(rotation);
  for (int base = 0; base < work.index.count; base += 16) {
    const uint32_t flagged = flagBlock(work.index, base, window).flagged;
    for (int k = base; k < std::min(base + 16, work.index.count); ++k) {
      ctx.matches[k].rotationFlag = static_cast<uint8_t>((flagged >> (k - base)) & 1u);
      ctx.matches[k].alignScore = 0;
    }
  }
  // The histograms given are left as they are, all zero.
  (void)histX;
  (void)histY;
  TranslationVotes votes{work.histograms};
  castRecordVotes(ctx, work.index, window, turnedB, offset, votes, work.scorable);
  castSingularVotes(singular, offset, votes);
  return translationsFromVotes(votes, offset);
}

int alignmentScore(MatchContext& ctx, const MatchMinutia* turnedB) {
  // Standalone use: the copy may not be a plain turn of B, so the end turns are taken
  // from the copy itself.
  const MatchMinutia* minutiaeA = ctx.viewA.minutiae;
  int sum = 0;
  for (int k = 0; k < recordCount(ctx); ++k) {
    PairMatch& m = ctx.matches[k];
    m.alignScore = 0;
    if (m.rotationFlag != 1) continue;
    const int turnI = signedByte(minutiaeA[m.aI].angle() - turnedB[m.bForAi].angle());
    const int turnJ = signedByte(minutiaeA[m.aJ].angle() - turnedB[m.bForAj].angle());
    if (absInt(turnI) > kMaxEndAngleGap || absInt(turnJ) > kMaxEndAngleGap) continue;
    const MatchMinutia& ai = minutiaeA[m.aI];
    const MatchMinutia& aj = minutiaeA[m.aJ];
    const MatchMinutia& bi = turnedB[m.bForAi];
    const MatchMinutia& bj = turnedB[m.bForAj];
    if (!withinReach(ai.y - bi.y, ai.x - bi.x) || !withinReach(aj.y - bj.y, aj.x - bj.x)) continue;
    m.alignScore = static_cast<uint8_t>(recordScore(ctx, m, turnI, turnJ));
    sum += m.alignScore;
  }
  return sum;
}

namespace {

// A set of minutia indices, visited in increasing order.
class MinutiaSet {
 public:
  void insert(int i) { words_[i >> 6] |= uint64_t{1} << (i & 63); }
  template <typename Visit>
  void forEachBelow(int limit, Visit visit) const {
    for (int w = 0; w < static_cast<int>(words_.size()); ++w)
      for (uint64_t bits = words_[w]; bits != 0; bits &= bits - 1) {
        const int i = 64 * w + __builtin_ctzll(bits);
        if (i >= limit) return;
        visit(i);
      }
  }

 private:
  std::array<uint64_t, 4> words_{};  // every byte index
};

// Partner assignment over the scored records (in record order, every score above 0).
AssignmentResult assignFromRecords(const MatchContext& ctx, CandidateAlignment& candidate, AlignmentWork& work,
                                   int listed) {
  const int countA = std::clamp(ctx.countA, 0, kMaxViewMinutiae);
  const int countB = std::clamp(candidate.count, 0, kMaxViewMinutiae);
  work.chainHead.fill(-1);

  // Accumulate the record scores per (A minutia, B minutia) association.
  MinutiaSet associatedA;
  int used = 0;
  const auto associate = [&](int a, int b, uint32_t score) {
    int16_t node = work.chainHead[a];
    while (node >= 0) {
      if (work.associations[node].b == b) {
        work.associations[node].weight += score;
        return;
      }
      node = work.associations[node].next;
    }
    const int16_t fresh = static_cast<int16_t>(used++);
    work.associations[fresh] = {static_cast<uint8_t>(b), -1, score};
    if (work.chainHead[a] < 0) {
      work.chainHead[a] = fresh;
      associatedA.insert(a);
    } else
      work.associations[work.chainTail[a]].next = fresh;
    work.chainTail[a] = fresh;
  };
  for (int k = 0; k < listed; ++k) {
    const PairMatch& m = ctx.matches[work.scored[k].index];
    associate(m.aI, m.bForAi, work.scored[k].score);
    associate(m.aJ, m.bForAj, work.scored[k].score);
  }

  // Each A minutia offers itself to its strongest B minutia; a B minutia keeps the
  // strongest offer.
  std::array<uint8_t, kMaxViewMinutiae> partner;
  std::array<uint16_t, kMaxViewMinutiae> weight;
  partner.fill(kNoPartner);
  weight.fill(0);
  associatedA.forEachBelow(countA, [&](int a) {
    int16_t best = work.chainHead[a];
    for (int16_t node = work.associations[best].next; node >= 0; node = work.associations[node].next)
      if (work.associations[node].weight > work.associations[best].weight) best = node;
    const int b = work.associations[best].b;
    const uint16_t offer = static_cast<uint16_t>(work.associations[best].weight);
    if (offer > weight[b]) {
      weight[b] = offer;
      partner[b] = static_cast<uint8_t>(a);
    }
  });

  // Only records whose both ends agree with the partners count.
  weight.fill(0);
  MinutiaSet matchedB;
  AssignmentResult result;
  bool firstPartDone = false;
  for (int k = 0; k < listed; ++k) {
    const PairMatch& m = ctx.matches[work.scored[k].index];
    const uint8_t score = work.scored[k].score;
    if (!firstPartDone && m.outerPairIndex() >= ctx.counts.nB0) {
      result.firstPart = result.total;
      firstPartDone = true;
    }
    if (partner[m.bForAi] != m.aI || partner[m.bForAj] != m.aJ) continue;
    matchedB.insert(m.bForAi);
    matchedB.insert(m.bForAj);
    weight[m.bForAi] = static_cast<uint16_t>(weight[m.bForAi] + score);
    weight[m.bForAj] = static_cast<uint16_t>(weight[m.bForAj] + score);
    result.total += score;
  }
  if (!firstPartDone) result.firstPart = result.total;

  candidate.matchedCount = 0;
  matchedB.forEachBelow(countB, [&](int b) {
    if (weight[b] > 0) candidate.matchedPairs[candidate.matchedCount++] = packMatchedPair(b, partner[b], weight[b]);
  });

  const auto norm = [](int64_t value, int n) { return n > 64 ? static_cast<int>(64 * value / n) : static_cast<int>(value); };
  result.score = norm(result.firstPart, ctx.counts.nB) + norm(result.total, ctx.counts.nA);
  return result;
}

}  // namespace

AssignmentResult assignmentScore(const MatchContext& ctx, CandidateAlignment& candidate) {
  AlignmentWork& work = alignmentWork();
  int listed = 0;
  for (int k = 0; k < recordCount(ctx); ++k)
    if (ctx.matches[k].alignScore != 0) work.scored[listed++] = {static_cast<uint16_t>(k), ctx.matches[k].alignScore};
  return assignFromRecords(ctx, candidate, work, listed);
}

bool alignCandidate(MatchContext& ctx, uint8_t rotation, CandidateAlignment& candidate) {
  const MatchView& viewB = ctx.viewB;
  candidate.count = std::clamp(viewB.count, 0, kMaxViewMinutiae);
  candidate.singularCount = std::clamp(viewB.singularCount, 0, kMaxSingularPoints);
  candidate.matchedCount = 0;
  candidate.bestTranslationScore = 0;
  candidate.score = 0;
  candidate.affine = AffineParams{};
  candidate.translationY = 0;
  candidate.translationX = 0;

  TurnOffset offset;
  if (rotation == 0) {
    std::copy_n(viewB.minutiae, candidate.count, candidate.minutiae.begin());
    std::copy_n(viewB.singularPoints, candidate.singularCount, candidate.singularPoints.begin());
  } else {
    offset = turnSide(viewB.minutiae, candidate.count, rotation, candidate.minutiae.data());
    turnSingular(viewB.singularPoints, candidate.singularCount, rotation, candidate.singularPoints.data());
  }
  candidate.offsetY = offset.y;
  candidate.offsetX = offset.x;
  candidate.singularPairs = pairSingularPoints(ctx, candidate.singularPoints.data(), candidate.singularCount);

  AlignmentWork& work = alignmentWork();
  MatchIndex& index = work.index;
  currentMatchIndex(ctx, index);
  MatchMinutia* turnedB = candidate.minutiae.data();
  TranslationVotes votes{work.histograms};
  const int scorable = castRecordVotes(ctx, index, RotationWindow(rotation), turnedB, offset, votes, work.scorable);
  castSingularVotes(candidate.singularPairs, offset, votes);
  const TranslationCandidates translations = translationsFromVotes(votes, offset);
  if (translations.count == 0) return false;

  // Try each translation in turn; the first best one wins. A single translation is
  // scored by listing its records at once.
  int best = -1;
  int bestIndex = 0;
  ScoredList scored;
  if (translations.count == 1) {
    scored = scoredRecords(ctx, work, scorable, translations.candidates[0]);
    best = scored.sum;
  } else {
    for (int k = 0; k < translations.count; ++k) {
      const int score = placedScore(ctx, index, work.scorable, scorable, translations.candidates[k]);
      if (score > best) {
        best = score;
        bestIndex = k;
      }
    }
  }
  const TranslationCandidate chosen = translations.candidates[bestIndex];
  moveMinutiae(turnedB, candidate.count, chosen.ty, chosen.tx);
  candidate.bestTranslationScore = best;
  candidate.translationY = chosen.ty;
  candidate.translationX = chosen.tx;
  if (best < kMinTranslationScore) return false;

  if (translations.count > 1) scored = scoredRecords(ctx, work, scorable, chosen);
  candidate.score = assignFromRecords(ctx, candidate, work, scored.count).score;
  return true;
}

}  // namespace fx60::match