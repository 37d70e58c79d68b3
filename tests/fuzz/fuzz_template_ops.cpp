// The operations on one stored template, on arbitrary 512 bytes: seal check,
// normalisation, the half turn and decoding into the matcher's view.
#include <array>

#include "match/match_context.h"
#include "match/matcher.h"
#include "match/view.h"
#include "template/feature_template.h"
#include "template/seal.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fx60::kTemplateSize;
using Template = std::array<uint8_t, kTemplateSize>;

void checkView(const fx60::match::MatchView& view) {
  FX60_FUZZ_CHECK(view.count >= 0 && view.count <= fx60::match::kMaxViewMinutiae);
  FX60_FUZZ_CHECK(view.singularCount >= 0 && view.singularCount <= fx60::match::kMaxSingularPoints);
  for (int i = 0; i < view.count; ++i) {
    const auto& m = view.minutiae[i];
    FX60_FUZZ_CHECK(m.x >= 0 && m.x <= 255 && m.y >= 0 && m.y <= 511);
    // Sorted by position, duplicates gone.
    if (i > 0) FX60_FUZZ_CHECK(view.minutiae[i - 1].sortKey <= m.sortKey);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fx60::fuzz::ByteReader in(data, size);
  Template input{};
  in.fill(input);

  {
    Template t = input;
    const int verified = fx60::VerifyTemplateSeal(t.data());
    FX60_FUZZ_CHECK(verified == 0 || verified == 1);
    if (verified == 0) FX60_FUZZ_CHECK(t == input);
  }
  {
    // Sealing always succeeds, and a native template's seal verifies.
    Template t = input;
    FX60_FUZZ_CHECK(fx60::SealTemplate(t.data()) == 1);
    FX60_FUZZ_CHECK(fx60::checkByteIsValid(t.data()));
    if (input[1] == 1 && input[3] == 14) FX60_FUZZ_CHECK(fx60::VerifyTemplateSeal(t.data()) == 1);
  }
  {
    Template t = input;
    const int status = fx60::match::normaliseTemplate(t.data());
    FX60_FUZZ_CHECK(status == 0 || status == -1);
    if (status == 0 && fx60::checkByteIsValid(input.data()) && input[3] == 14)
      FX60_FUZZ_CHECK(t[fx60::kTemplateCountByte] <= 70 && fx60::checkByteIsValid(t.data()));
  }
  {
    Template t = input;
    fx60::match::rotateTemplate180(t.data());
    FX60_FUZZ_CHECK(fx60::checkByteIsValid(t.data()));
    // At most 119 records are turned: the byte before the check byte is never touched.
    FX60_FUZZ_CHECK(t[fx60::kTemplateCheckByte - 1] == input[fx60::kTemplateCheckByte - 1]);
  }
  {
    auto& buffers = fx60::match::threadWorkBuffers();
    fx60::match::MatchContext ctx;
    fx60::match::resetContext(ctx, buffers);
    fx60::match::decodeView(ctx.viewA, input.data());
    checkView(ctx.viewA);
  }
  return 0;
}
