// A speed-up of the half-turn retry, apart from the algorithm it speeds up.
//
// The retry compares the same side A with side B turned by half a turn about the image
// centre. The turned side holds the same minutiae in reverse order (the view sorts by
// row, and the turn reverses the rows), each reflected through one centre with its
// angle turned by 128. So its pair (i, j) is the first side's pair (n-1-j, n-1-i): the
// same squared length, the same direction (the vector between the two ends is the same)
// and the two end angles traded. Everything pass 1 and pass 2 computed from side B's
// pairs therefore follows from what they computed for the first side:
// - the pass-1 keys: the same lengths with the minutia numbers reversed; only pairs of
//   equal length change order, and are sorted again;
// - the pass-1 search against side A's list: the same windows; straight matches become
//   crossed ones and the reverse with the same weights, and every vote moves by half a
//   turn;
// - the pass-2 scan of side A's list against side B's records: each record has a
//   counterpart of the same length and direction, so the same windows find the
//   counterparts' matches with straight and crossed exchanged.
// Each memo is taken over only after checking, record by record, that the new side is
// exactly such a half turn of the remembered one against the same side-A list; otherwise
// the algorithm runs as usual. The results are bit for bit those of a fresh search.
#pragma once

#include <array>
#include <cstdint>

#include "match/match_context.h"

namespace fx60::match::half_turn_memo {

// Which side-A pair list a memo was made against: the work buffers holding it and
// the list's generation in them.
struct SideAStamp {
  const MatchWorkBuffers* buffers = nullptr;
  uint64_t generation = 0;
};

// The minutiae of a side as a search saw them.
struct SideShape {
  int32_t count = 0;
  std::array<int32_t, kMaxViewMinutiae> x;
  std::array<int32_t, kMaxViewMinutiae> y;
  std::array<uint8_t, kMaxViewMinutiae> angle;
};

// Side B's pass-1 keys as left in the key buffer.
struct KeysMemo {
  bool valid = false;
  SideAStamp stamp;
  SideShape shape;
  int32_t keyCount = 0;
  int32_t taken = 0;  // keys at the front, selected and sorted
  int32_t recordCount = 0;
  int32_t recordCountBeforeWidening = 0;
};

// The pass-1 correspondences of the last side B searched against side A's list.
struct SearchMemo {
  bool valid = false;
  SideAStamp stamp;
  const MinutiaPair* inner = nullptr;
  int32_t innerCount = 0;
  SideShape shape;
  uint32_t limit = 0;      // squared-length limit of the outer scan
  int32_t processed = 0;   // outer pairs processed
  int32_t matchCount = 0;
  std::array<uint32_t, kMaxPairRecords + 1> outerD2;      // up to the first unprocessed record
  std::array<uint16_t, kMaxPairRecords> outerEnds;        // i << 8 | j
  std::array<uint8_t, kMaxPairRecords> outerDir;
  std::array<uint8_t, kMaxPairRecords> outerRelI;         // end angles relative to the direction
  std::array<uint8_t, kMaxPairRecords> outerRelJ;
  std::array<uint16_t, kMaxPairRecords + 1> firstMatch;   // per outer pair, then the total
  std::array<PairMatch, kMaxPairRecords> matches;
  std::array<uint32_t, kRotationBins> votes;
};

// The pass-2 correspondences of side A's list, scanned against the last side B's records.
struct ScanMemo {
  bool valid = false;
  SideAStamp stamp;
  SideShape scannedShape;      // side A's minutiae as the search saw them
  int32_t innerMinutiae = 0;   // side B's minutia count
  uint32_t limit = 0;          // squared-length limit of the outer scan
  int32_t processed = 0;       // outer pairs processed
  int32_t reach = 0;           // inner records some window covered: [0, reach)
  int32_t lastRead = 0;        // last inner record whose length the search read
  int32_t matchCount = 0;
  std::array<MinutiaPair, kMaxPairRecords + 1> inner;     // records [0, lastRead]
  std::array<uint8_t, kMaxPairRecords> outerDir;
  std::array<uint32_t, kMaxPairRecords> outerAngles;      // scanned-list angle words
  std::array<uint16_t, kMaxPairRecords + 1> firstMatch;   // per outer pair, then the total
  std::array<PairMatch, kMaxPairRecords> matches;
  std::array<uint32_t, kRotationBins> votes;
};

struct Memos {
  KeysMemo keys;
  SearchMemo search;
  ScanMemo scan;
};

// The calling thread's memos (allocated on first use on that thread).
Memos& threadMemos();

// Side B's pass-1 key selection: the sorted keys at the front, and the record counts.
struct Pass1Keys {
  int taken = 0;
  int recordCount = 0;
  int recordCountBeforeWidening = 0;
};

// Turns the keys of the remembered side B, still in ctx.pairKeysB, into those of its
// half turn when that is what side B now is. False, with nothing changed, otherwise.
bool takeOverKeys(MatchContext& ctx, Pass1Keys& keys);
// Remembers the keys just selected for side B (ctx.pairKeyCountB of them).
void rememberKeys(const MatchContext& ctx, const Pass1Keys& keys);

// How a correspondence search ended: outer pairs processed, matches found (all of them,
// also those past the list's capacity).
struct SearchOutcome {
  int processed = 0;
  int matchCount = 0;
};

// Writes what matchPairs would write for this pass and limit (outer records, matches,
// votes) when side B is the half turn of the remembered one. False, with the votes
// untouched, otherwise.
bool takeOverSearch(MatchContext& ctx, int pass, uint32_t limit, SearchOutcome& outcome);

// What a finished search leaves for rememberSearch.
struct FinishedSearch {
  uint32_t limit = 0;
  SearchOutcome outcome;
  const uint16_t* firstMatch = nullptr;     // per outer pair, then the total
  const OuterPairWindow* windows = nullptr;  // per outer pair
  int reach = 0;                             // inner records some window covered
  int lastRead = 0;                          // last inner record whose length was read
};
void rememberSearch(const MatchContext& ctx, int pass, const FinishedSearch& search);

}  // namespace fx60::match::half_turn_memo
