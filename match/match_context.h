// The matcher's working state: the two template views, pair lists, pair
// correspondences, rotation votes and the material carried from pass 1 to pass 2.
//
// Small per-comparison state lives in MatchContext (reset at the start of every
// comparison). The large buffers live in MatchWorkBuffers, one instance per thread,
// reused by every comparison on that thread and never zeroed as a whole.
#pragma once

#include <array>
#include <cstdint>


namespace fx60::match {

// ---------------------------------------------------------------------------
// Capacities
// ---------------------------------------------------------------------------
inline constexpr int kMaxViewMinutiae = 112;   // minutiae kept per side
inline constexpr int kMaxSingularPoints = 3;   // singular points kept per side
inline constexpr int kMaxPairRecords = 1399;   // pair records per side, and PairMatch records
inline constexpr int kPairsInUse = 350;        // pairs that count towards the normalising counts
inline constexpr int kMaxRotationCandidates = 8;
inline constexpr int kRotationBins = 256;
// Pair keys are built over the first 128 minutiae at most; with 112 per side this is 112 choose 2.
inline constexpr int kMaxPairKeys = kMaxViewMinutiae * (kMaxViewMinutiae - 1) / 2;

inline constexpr uint32_t kPairListEnd = 0xFFFFFFFFu;  // d2 of the record that ends a pair list

// ---------------------------------------------------------------------------
// Constants set when a comparison starts
// ---------------------------------------------------------------------------
inline constexpr uint32_t kPairLimitA = 143641;     // 379^2: longest side-A pair
inline constexpr uint32_t kPairLimitBKeys = 72900;  // 270^2: longest side-B pair
inline constexpr int kTranslationTolerance = 13;
inline constexpr int kRotationCentre = 180;          // both coordinates of the turning centre
inline constexpr int kFineMargin = 12;
// Pass results in this band, both ends included, prepare a second pass.
inline constexpr uint32_t kPass2ScoreLow = 768;
inline constexpr uint32_t kPass2ScoreHigh = 8000;

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

// One minutia of a view. The low byte of sortKey is the byte angle and is the
// minutia's angle for every stage.
struct MatchMinutia {
  int32_t y;
  int32_t x;
  uint32_t sortKey;  // (y << 23) | (x << 8) | angle
  uint8_t weight;    // 63 at decode
  uint8_t flag;      // 0 at decode
  uint8_t reserved;
  uint8_t curvature;  // 16 when no usable neighbour

  constexpr uint8_t angle() const { return static_cast<uint8_t>(sortKey & 0xFFu); }
  constexpr void setAngle(uint8_t a) { sortKey = (sortKey & ~0xFFu) | a; }
};
static_assert(sizeof(MatchMinutia) == 16);

struct MatchSingularPoint {
  int32_t y;
  int32_t x;
  uint8_t angle;      // 0 at decode
  uint8_t angles[2];  // two further angles, used when type is 255
  uint8_t reserved;
  uint8_t type;  // 1: point with a usable angle; 255: three-angle point
  uint8_t reserved2[2];
};
static_assert(sizeof(MatchSingularPoint) == 16);

// One template side as the matcher sees it. The storage the pointers refer to lives
// in the MatchContext; swapping two views swaps the pointers with them.
struct MatchView {
  int32_t count = 0;          // 0..112
  int32_t singularCount = 0;  // 0..3
  uint8_t quality = 0;        // template byte 6, or 32 when that is 0
  MatchMinutia* minutiae = nullptr;
  MatchSingularPoint* singularPoints = nullptr;
};

// A pair (i < j) of minutiae of one side.
struct MinutiaPair {
  uint32_t d2;      // squared length; kPairListEnd ends a list
  uint16_t length;  // ceil(sqrt(d2)); at least 2 in side-A lists
  uint16_t reserved;
  // Low lane: (angle_i - dir + 12) with 0x0F above it; high lane: (angle_j - dir - 128 + 12)
  // with 0x0F (inner lists) or 0x8F (outer lists) above it.
  uint32_t relAngles;
  uint8_t i;
  uint8_t j;
  uint8_t relAngleJ;  // (angle_j - dir - 128 + 12) mod 256
  uint8_t dir;        // byteAngleOf(x_j - x_i, y_j - y_i)
};
static_assert(sizeof(MinutiaPair) == 16);

// One accepted correspondence of an outer (B) pair with an inner (A) pair.
// The word after the first eight bytes holds the j-end weight in its low byte; the
// alignment stage uses the next two bytes as work fields.
struct PairMatch {
  uint8_t bForAi;  // B minutia that corresponds to A's i
  uint8_t bForAj;  // B minutia that corresponds to A's j
  uint8_t weightI;
  uint8_t dirB;  // B pair direction as oriented to match A
  uint8_t aI;
  uint8_t aJ;
  uint8_t aRelAngleJ;
  uint8_t dirA;
  uint8_t weightJ;
  uint8_t rotationFlag;  // 1 when consistent with the candidate rotation; 238 marks the end record
  uint8_t alignScore;    // this record's alignment score for the chosen translation
  uint8_t spare;
  uint32_t pairRef;  // (outer pair index << 20) + 16 x (inner pair index)

  constexpr int outerPairIndex() const { return static_cast<int>(pairRef >> 20); }
  constexpr int innerPairIndex() const { return static_cast<int>((pairRef & 0xFFFFFu) >> 4); }
  constexpr uint8_t rotation() const { return static_cast<uint8_t>(dirA - dirB); }
};
static_assert(sizeof(PairMatch) == 16);
inline constexpr uint8_t kPairMatchEndFlag = 238;

// Bounding figures of one side: min/max x, y of the first and last minutia in array order.
struct SideExtent {
  int32_t minX = 0;
  int32_t maxX = 0;
  int32_t firstY = 0;
  int32_t lastY = 0;
};

// Counts that normalise the alignment score.
struct PairCounts {
  int32_t nA = 0;   // inner pairs in use (at most 350)
  int32_t nB = 0;   // outer pairs in use after any widening (at most 350)
  int32_t nB0 = 0;  // outer pairs in use before widening (at most 350)
};

// One outer pair's inner window [start, end) and its end-angle probe (the pair's end
// angles relative to its direction), laid out by the correspondence search.
struct OuterPairWindow {
  uint16_t start;
  uint16_t end;
  uint8_t probeI;
  uint8_t probeJ;
  uint16_t reserved;
};

// ---------------------------------------------------------------------------
// Per-thread work buffers (large, reused, not cleared per comparison)
// ---------------------------------------------------------------------------

struct MatchWorkBuffers {
  std::array<MinutiaPair, kMaxPairRecords + 1> pairsA;  // side A's list, end mark included
  std::array<MinutiaPair, kMaxPairRecords + 1> pairsB;  // side B's list, end mark included
  std::array<uint32_t, kMaxPairKeys> pairKeysB;         // side B's pair keys (pass 1)
  std::array<uint32_t, kMaxPairKeys> spareKeys;         // room for keys while they are sorted or split
  std::array<PairMatch, kMaxPairRecords + 1> matches;   // PairMatch list plus an end record
  std::array<uint32_t, kRotationBins> rotationVotes;
  // The inner list's end-angle bytes (i end, j end) in two arrays, for the correspondence
  // scan; a whole scan block past the last record stays readable.
  alignas(16) std::array<uint8_t, kMaxPairRecords + 16> innerEndAnglesI;
  alignas(16) std::array<uint8_t, kMaxPairRecords + 16> innerEndAnglesJ;
  std::array<OuterPairWindow, kMaxPairRecords> outerWindows;  // per outer pair of the scan
  uint64_t sideAGeneration = 0;  // counts side-A pair lists built in these buffers
};

// The calling thread's buffers (allocated on first use on that thread).
MatchWorkBuffers& threadWorkBuffers();

// ---------------------------------------------------------------------------
// Pass-2 material, written at the end of pass 1
// ---------------------------------------------------------------------------
struct Pass2Material {
  MinutiaPair* innerPairs = nullptr;  // B's pass-1 records
  int32_t innerCount = 0;
  MinutiaPair* outerPairs = nullptr;  // A's pass-1 list
  int32_t outerCount = 0;
  int32_t outerCountBeforeWidening = 0;  // at most 350
  uint32_t outerLimit = 0;               // squared-length limit of the outer scan
  SideExtent extent;                     // extent of the moved side (B of pass 1)
};

// Outputs of the affine fit.
struct AffineFitStats {
  int32_t pairsUsed = 0;  // 0 when no fit was attempted
  int32_t sumAX = 0;
  int32_t sumAY = 0;
  int32_t sumBX = 0;
  int32_t sumBY = 0;
};

// ---------------------------------------------------------------------------
// The context of one comparison
// ---------------------------------------------------------------------------
struct MatchContext {
  // Views: index 0 is side A, index 1 side B. Swapped as wholes for pass 2.
  MatchView viewA;
  MatchView viewB;
  std::array<std::array<MatchMinutia, kMaxViewMinutiae>, 2> minutiaStorage{};
  std::array<std::array<MatchSingularPoint, kMaxSingularPoints>, 2> singularStorage{};

  int32_t countA = 0;  // minutia count of the current side A

  // Pass state.
  uint32_t* rotationVotes = nullptr;
  int32_t pass2Ready = 0;  // non-zero when pass 1 prepared a second pass
  std::array<int32_t, 2> outerRecordsProcessed{};  // per pass

  // Constants.
  uint32_t pairLimitA = kPairLimitA;
  int32_t translationTolerance = kTranslationTolerance;
  int32_t fineMargin = kFineMargin;

  // Side A's pair list (pass 1 inner list).
  MinutiaPair* pairsA = nullptr;
  int32_t pairCountA = 0;
  uint32_t pairLimitB = 0;  // d2 + hi(length) of A's longest kept pair
  SideExtent extentA;

  // Side B's pass-1 pair keys and records.
  uint32_t* pairKeysB = nullptr;
  int32_t pairKeyCountB = 0;      // keys built
  int32_t pairKeysSortedB = 0;    // keys at the front that are selected and sorted
  MinutiaPair* pairsB = nullptr;
  int32_t pairCountB = 0;         // records expanded (g)

  // Lists of the current pass: outer is scanned, inner is searched.
  MinutiaPair* outerPairs = nullptr;
  int32_t outerCount = 0;
  MinutiaPair* innerPairs = nullptr;
  int32_t innerCount = 0;
  uint32_t outerLimit = 0;
  PairCounts counts;  // normalising counts of the current pass

  // PairMatch list of the current pass.
  PairMatch* matches = nullptr;
  int32_t matchCount = 0;

  MatchWorkBuffers* buffers = nullptr;

  Pass2Material pass2;
  AffineFitStats affine;

  MatchContext() = default;
  MatchContext(const MatchContext&) = delete;             // views point into this object
  MatchContext& operator=(const MatchContext&) = delete;
};

// Sets every field to its start value, points the views at their storage and the
// buffer pointers at the given work buffers.
void resetContext(MatchContext& ctx, MatchWorkBuffers& buffers);

// Exchanges side A and side B (views only; the storage stays in place).
void swapViews(MatchContext& ctx);

}  // namespace fx60::match
