// Comparison of two arbitrary templates through the matching export's code path.
//
// Input: one mode byte, then template A (512 bytes) and template B (512 bytes),
// zero-filled when short. Mode bits:
//   bit 0  repair both check bytes, so that the templates pass the first gate;
//   bit 1  seal B first, so that the comparison itself runs;
//   bits 2..4  security level 0..7 (outside 1..5 counts as 3).
#include <array>
#include <cmath>
#include <cstring>

#include "driver/algorithm_engine.h"
#include "driver/library_api.h"
#include "template/feature_template.h"
#include "template/seal.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fx60::kTemplateSize;
using Template = std::array<uint8_t, kTemplateSize>;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fx60::fuzz::ByteReader in(data, size);
  const uint8_t mode = in.byte();
  Template a{};
  Template b{};
  in.fill(a);
  in.fill(b);
  if (mode & 1) {
    fx60::updateCheckByte(a.data());
    fx60::updateCheckByte(b.data());
  }
  if (mode & 2) FX60_FUZZ_CHECK(fx60::SealTemplate(b.data()) == 1);
  const int level = (mode >> 2) & 7;

  const Template aBefore = a;
  const Template bBefore = b;
  const int decision = fx60::api::matchFingerprint(a.data(), b.data(), level);
  FX60_FUZZ_CHECK(decision == 0 || decision == -1 || decision == -2);
  // The caller's templates are read only.
  FX60_FUZZ_CHECK(a == aBefore && b == bBefore);

  // The same comparison again: the score must be a published one, and the result
  // must not depend on what the previous comparison left in the work buffers.
  float score = -1.0f;
  const int status = fx60::MatchSealedTemplates(a.data(), b.data(), &score);
  FX60_FUZZ_CHECK(std::isfinite(score) && score >= 0.0f && score <= 1.0f);
  FX60_FUZZ_CHECK(!(score >= 0.41f && score < 0.815f));
  if (status != 1) FX60_FUZZ_CHECK(score == 0.0f);
  FX60_FUZZ_CHECK(fx60::api::matchDecision(status, score, level) == decision);
  return 0;
}
