// The pair correspondence search: each outer pair (side B's in pass 1) is compared
// with the inner pairs (side A's) of about its length, end angles both ways round;
// the agreeing ones become PairMatch records and vote for the rotation between the
// sides. Also the record forms the search writes, which the half-turn memo rewrites.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "match/angles.h"
#include "match/match_context.h"

namespace fx60::match {

// Correspondence search of the outer list (ctx.outerPairs, minutiae of side B) against
// the inner list (ctx.innerPairs). Fills ctx.matches and ctx.rotationVotes and returns
// the number of matches.
int matchPairs(MatchContext& ctx, int pass);

// A scanned outer pair's end angles relative to its direction.
struct OuterAngles {
  uint8_t relI;
  uint8_t relJ;
};

// The record's angle word in scanned-list form (0x8F above the j end).
inline void setScannedAngleWord(MinutiaPair& pair, OuterAngles angles) {
  pair.relAngles = ((angles.relI | (static_cast<uint32_t>(angles.relJ) << 16)) + 0x000C000Cu) | 0x8F000F00u;
}

// Direction and scanned-list angle word of an outer pair of side B's minutiae.
inline OuterAngles setScannedAngles(MinutiaPair& pair, const MatchMinutia* minutiaeB) {
  const MatchMinutia& first = minutiaeB[pair.i];
  const MatchMinutia& second = minutiaeB[pair.j];
  pair.dir = byteAngleOf(second.x - first.x, second.y - first.y);
  const OuterAngles angles{static_cast<uint8_t>(first.angle() - pair.dir),
                           static_cast<uint8_t>(second.angle() - pair.dir - 128)};
  setScannedAngleWord(pair, angles);
  return angles;
}

// Writes one correspondence as two 64-bit words. outerWord holds bForAi, bForAj and dirB
// in their byte positions; the inner pair's i, j, relAngleJ and dir sit in that order in
// both records; the work bytes after weightJ start cleared.
inline void writeMatch(PairMatch& match, uint32_t outerWord, uint32_t weightI, uint32_t weightJ,
                       const MinutiaPair& inner, uint32_t pairRef) {
  static_assert(std::endian::native == std::endian::little);
  static_assert(offsetof(PairMatch, weightI) == 2 && offsetof(PairMatch, dirB) == 3);
  static_assert(offsetof(PairMatch, aI) == 4 && offsetof(PairMatch, dirA) == 7);
  static_assert(offsetof(PairMatch, weightJ) == 8 && offsetof(PairMatch, pairRef) == 12);
  static_assert(offsetof(MinutiaPair, dir) - offsetof(MinutiaPair, i) == 3);
  uint32_t innerWord;
  std::memcpy(&innerWord, &inner.i, 4);
  const uint64_t low = (outerWord | (weightI << 16)) | (static_cast<uint64_t>(innerWord) << 32);
  const uint64_t high = weightJ | (static_cast<uint64_t>(pairRef) << 32);
  auto* bytes = reinterpret_cast<unsigned char*>(&match);
  std::memcpy(bytes, &low, 8);
  std::memcpy(bytes + 8, &high, 8);
}

// bForAi, bForAj and dirB of a correspondence in their byte positions.
constexpr uint32_t outerMatchWord(uint8_t bForAi, uint8_t bForAj, uint8_t dirB) {
  return bForAi | (static_cast<uint32_t>(bForAj) << 8) | (static_cast<uint32_t>(dirB) << 24);
}

}  // namespace fx60::match
