// A speed-up of comparing one probe with many templates, apart from the algorithm it
// speeds up: each thread remembers the side A it prepared last (the decoded view and
// the pair list, which stays in the thread's work buffers). A comparison whose first
// template is byte for byte the same prepared template takes both from here instead of
// decoding and pairing it again.
//
// It is exact because side A's view and pair list depend on the prepared template
// alone, and the pair list is used only while nothing has rebuilt it since (the
// buffers' generation of side-A lists is unchanged). The one thing a comparison
// changes in that list is the angle word of the records a second pass scans (a guard
// bit); recall puts those back into the form they were built in.
#pragma once

#include <array>
#include <cstdint>

#include "match/match_context.h"
#include "template/layout.h"

namespace fx60::match::side_a_memo {

struct Memo {
  const MatchWorkBuffers* buffers = nullptr;  // whose pair list it describes; null when empty
  uint64_t generation = 0;                    // of that list in those buffers
  std::array<uint8_t, kTemplateSize> prepared{};
  int32_t count = 0;
  int32_t singularCount = 0;
  uint8_t quality = 0;
  std::array<MatchMinutia, kMaxViewMinutiae> minutiae{};
  std::array<MatchSingularPoint, kMaxSingularPoints> singularPoints{};
  int32_t pairCountA = 0;
  uint32_t pairLimitB = 0;
  SideExtent extentA;
  bool angleWordsScanned = false;  // a second pass left A's angle words in scanned form
};

// The calling thread's memo (allocated on first use on that thread).
Memo& threadMemo();

// Side A as just prepared in the context, from this prepared template, becomes the
// thread's remembered side A.
void remember(const MatchContext& ctx, const uint8_t* preparedTemplate);

// Fills side A of a freshly reset context from the remembered one when it was prepared
// from the same template and its pair list is still current. False, with the context
// untouched, otherwise.
bool recall(MatchContext& ctx, const uint8_t* preparedTemplate);

// A second pass is about to scan side A's pair list (and rewrite its angle words).
void noteAngleWordsScanned();

}  // namespace fx60::match::side_a_memo
