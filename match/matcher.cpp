#include "match/matcher.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "match/match_context.h"
#include "match/match_pass.h"
#include "match/pair_tables.h"
#include "match/side_a_memo.h"
#include "match/view.h"
#include "template/feature_template.h"

namespace fx60::match {
namespace {

constexpr float kSimilarityUnit = 65536.0f;
constexpr uint32_t kSimilarityOne = 65536;
constexpr int kRetryPercent = 40;  // a first result at or below this tries the half-turned template
constexpr int kMaxNormalisedMinutiae = 70;
constexpr int kBorder = 6;
// Records that lie wholly between the first record and the check byte.
constexpr int kMaxRecordsInTemplate = (kTemplateCheckByte - kTemplateFirstMinutia) / kMinutiaRecordSize;  // 120
constexpr int kMaxTurnedMinutiae = 119;

int roundedPercent(float similarity) { return static_cast<int>(500.0f * similarity + 0.5f); }

// Prepares one copy for comparison: native templates are normalised, others lose
// their singular points. Returns false when the template is unusable.
bool prepareTemplate(uint8_t* tpl) {
  if (isNativeTemplate(tpl)) return normaliseTemplate(tpl) == 0;
  std::memset(tpl + kTemplateSingularPoints, 0, kSingularPointSlots * kSingularPointRecordSize);
  updateCheckByte(tpl);
  return true;
}

}  // namespace

int normaliseTemplate(uint8_t* tpl) {
  if (tpl[3] != 14) return 0;
  const int storedCount = tpl[kTemplateCountByte];
  if (!checkByteIsValid(tpl) || tpl[0] != kTemplateMagic || tpl[4] != 1 || storedCount == 0 ||
      storedCount == 255)
    return -1;

  // Counts beyond what the template can hold are read only as far as its records go.
  const int oldCount = std::min(storedCount, kMaxRecordsInTemplate);
  std::array<MinutiaRecord, kMaxRecordsInTemplate> records{};
  int outOfRange = 0;
  int minX = 1 << 30, maxX = -(1 << 30), minY = 1 << 30, maxY = -(1 << 30);
  int sumX = 0, sumY = 0;
  for (int i = 0; i < oldCount; ++i) {
    MinutiaRecord r = readMinutiaRecord(tpl, i);
    r.angle = wrapDegrees(r.angle);
    records[i] = r;
    if (r.x > 256 || r.y > 360) ++outOfRange;
    minX = std::min(minX, r.x);
    maxX = std::max(maxX, r.x);
    minY = std::min(minY, r.y);
    maxY = std::max(maxY, r.y);
    sumX += r.x;
    sumY += r.y;
  }

  int count = oldCount;
  if (outOfRange > 0 || minX < kBorder || maxX >= 256 - kBorder || minY < kBorder || maxY >= 360 - kBorder) {
    int offX;
    int offY;
    if (maxX - minX >= 256 || maxY - minY >= 360) {
      offX = std::max(0, sumX / oldCount - 128);
      offY = std::max(0, sumY / oldCount - 180);
    } else {
      offX = minX;
      offY = minY;
    }
    count = 0;
    for (int i = 0; i < oldCount; ++i) {
      const int x = records[i].x - offX;
      const int y = records[i].y - offY;
      if (x < kBorder || x > 255 - kBorder || y < kBorder || y > 359 - kBorder) continue;
      records[count++] = {x, y, records[i].angle};
    }
  }
  count = std::min(count, kMaxNormalisedMinutiae);

  tpl[kTemplateCountByte] = static_cast<uint8_t>(count);
  for (int i = 0; i < count; ++i) writeMinutiaRecord(tpl, i, records[i]);
  if (outOfRange > 0 && oldCount > count)
    std::memset(tpl + kTemplateFirstMinutia + kMinutiaRecordSize * count, 0,
                kMinutiaRecordSize * static_cast<size_t>(oldCount - count));
  updateCheckByte(tpl);
  return 0;
}

void rotateTemplate180(uint8_t* tpl) {
  std::array<SingularPointRecord, 2> singular{};  // the kept points, turned
  int singularCount = 0;
  int count = 0;
  if (checkByteIsValid(tpl)) {
    for (int slot = 0; slot < 2; ++slot) {
      const SingularPointRecord p = readSingularPoint(tpl, slot);
      if (p.x >= 1 && p.x <= 255 && p.y >= 1 && p.y <= 359) singular[singularCount++] = {255 - p.x, 359 - p.y};
    }
    count = std::min<int>(tpl[kTemplateCountByte], kMaxTurnedMinutiae);
  }

  std::array<MinutiaRecord, kMaxTurnedMinutiae> turned{};
  for (int i = 0; i < count; ++i) {
    const MinutiaRecord r = readMinutiaRecord(tpl, i);
    // Rows beyond the image would turn into negative rows; they are pinned to the top row.
    turned[i] = {255 - r.x, std::max(0, 359 - r.y), oppositeDegrees(r.angle)};
  }

  tpl[kTemplateCountByte] = static_cast<uint8_t>(count);
  const int length = 4 * count + 9;
  tpl[kTemplateLengthHigh] = static_cast<uint8_t>(length >> 8);
  tpl[kTemplateLengthHigh + 1] = static_cast<uint8_t>(length);
  for (int k = 0; k < singularCount; ++k) writeSingularPoint(tpl, k, singular[k]);
  for (int i = 0; i < count; ++i) writeMinutiaRecord(tpl, i, turned[i]);
  updateCheckByte(tpl);
}

bool needsHalfTurnRetry(float x1) { return roundedPercent(x1) <= kRetryPercent; }

float publishedScore(float x1, float x2) {
  float published = 5.0f * x1;
  int percent = roundedPercent(x1);
  if (percent <= kRetryPercent) {
    const int percent2 = roundedPercent(x2);
    if (percent2 > percent) {  // a tie keeps the first result
      published = 5.0f * x2;
      percent = percent2;
    }
  }
  // Results that pass the retry bound are doubled, so nothing is published in [0.41, 0.815).
  if (percent > kRetryPercent) published *= 2.0f;
  if (published > 0.0f) published += 0.005f;
  if (published > 1.0f) published = 1.0f;
  return published;
}

namespace {

// Starts a comparison: decodes side A and builds its pair list, or recalls both when
// this thread prepared the same side A last. False when A has no minutiae, which
// makes every similarity with it 0.
bool prepareSideA(MatchContext& ctx, const uint8_t* templateA) {
  resetContext(ctx, threadWorkBuffers());
  if (templateA[kTemplateCountByte] == 0) return false;
  if (side_a_memo::recall(ctx, templateA)) return true;
  decodeView(ctx.viewA, templateA);
  preparePassTables(ctx);
  side_a_memo::remember(ctx, templateA);
  return true;
}

// The smallest score in [0, 65537) for which the monotone test holds (65537 if none).
template <typename Test>
uint32_t firstScoreWhere(const Test& holds) {
  uint32_t low = 0;
  uint32_t high = kSimilarityOne + 1;
  while (low < high) {
    const uint32_t middle = (low + high) / 2;
    if (holds(middle))
      high = middle;
    else
      low = middle + 1;
  }
  return low;
}

float similarityOfScore(uint32_t score) { return static_cast<float>(score) / kSimilarityUnit; }

// From this score on, the published score is 1.0 whichever similarity it comes from.
uint32_t saturatingScore() {
  static const uint32_t score =
      firstScoreWhere([](uint32_t s) { return publishedScore(similarityOfScore(s), 0.0f) >= 1.0f; });
  return score;
}

// The largest second result that leaves the first one published (a tie keeps it).
uint32_t largestIgnoredSecond(float x1) {
  const int percent = roundedPercent(x1);
  return firstScoreWhere([&](uint32_t s) { return roundedPercent(similarityOfScore(s)) > percent; }) - 1;
}

// Similarity of the side A prepared in the context with template B. The window says,
// in score units, which similarities the caller needs exactly: one at or below its
// floor only has to be known to lie there, and all from its ceiling on publish alike.
float similarityWithSideA(MatchContext& ctx, const uint8_t* templateB, SimilarityTrace* trace,
                          ScoreWindow window = {}) {
  if (trace != nullptr) *trace = SimilarityTrace{};
  if (templateB[kTemplateCountByte] == 0) return 0.0f;
  decodeView(ctx.viewB, templateB);
  if (ctx.viewB.count < 3) return 0.0f;

  uint32_t score = runMatchPass(ctx, 1, trace != nullptr ? &trace->passes[0] : nullptr, window);
  if (trace != nullptr) trace->passCount = 1;
  if (ctx.pass2Ready != 0) {
    // The similarity is the mean of both passes: the window of the second follows
    // from the exact first result (pass 2 runs only on results inside the window).
    ScoreWindow secondWindow{};
    const int64_t ignoredSecond = 2 * int64_t{window.floor} + 1 - score;
    secondWindow.floor = static_cast<uint32_t>(std::max<int64_t>(0, ignoredSecond));
    const int64_t saturatedSecond = 2 * int64_t{window.ceiling} - score;
    secondWindow.ceiling = static_cast<uint32_t>(std::min<int64_t>(UINT32_MAX, saturatedSecond));
    swapViews(ctx);
    // Pass 2 scans A's pair list as its outer list, which rewrites its angle words.
    side_a_memo::noteAngleWordsScanned();
    const uint32_t second = runMatchPass(ctx, 2, trace != nullptr ? &trace->passes[1] : nullptr, secondWindow);
    if (trace != nullptr) trace->passCount = 2;
    score = (score + second) >> 1;
    swapViews(ctx);
  }
  score = std::min(score, kSimilarityOne);
  return static_cast<float>(score) / kSimilarityUnit;
}

}  // namespace

float templateSimilarity(const uint8_t* templateA, const uint8_t* templateB, SimilarityTrace* trace) {
  MatchContext ctx;
  if (!prepareSideA(ctx, templateA)) {
    if (trace != nullptr) *trace = SimilarityTrace{};
    return 0.0f;
  }
  return similarityWithSideA(ctx, templateB, trace);
}

int matchTemplates(const uint8_t* firstTemplate, const uint8_t* secondTemplate, float* score,
                   MatchDetails* details) {
  if (score != nullptr) *score = 0.0f;
  if (firstTemplate == nullptr || secondTemplate == nullptr) return -1;
  std::array<uint8_t, kTemplateSize> first;
  std::array<uint8_t, kTemplateSize> second;
  std::memcpy(first.data(), firstTemplate, kTemplateSize);
  std::memcpy(second.data(), secondTemplate, kTemplateSize);
  if (first[0] != kTemplateMagic || second[0] != kTemplateMagic) return -1;
  if (!prepareTemplate(first.data()) || !prepareTemplate(second.data())) return -1;

  SimilarityTrace* const firstTrace = details != nullptr ? details->firstTrace : nullptr;
  SimilarityTrace* const secondTrace = details != nullptr ? details->secondTrace : nullptr;
  // Side A is decoded and paired once; the half-turn retry only changes side B.
  MatchContext ctx;
  const bool sideAHasMinutiae = prepareSideA(ctx, first.data());
  const auto similarity = [&](SimilarityTrace* trace, ScoreWindow window) {
    if (sideAHasMinutiae) return similarityWithSideA(ctx, second.data(), trace, window);
    if (trace != nullptr) *trace = SimilarityTrace{};
    return 0.0f;
  };
  // Only the published score is asked for: a similarity whose exact value cannot
  // change it is left unfinished. Details report the raw similarities exactly.
  const bool publishedOnly = details == nullptr;
  const uint32_t saturated = publishedOnly ? saturatingScore() : UINT32_MAX;
  const float x1 = similarity(firstTrace, {0, saturated});
  float x2 = 0.0f;
  if (details != nullptr) details->firstSimilarity = x1;
  if (needsHalfTurnRetry(x1)) {
    rotateTemplate180(second.data());
    if (sideAHasMinutiae) prepareSideA(ctx, first.data());
    x2 = similarity(secondTrace, {publishedOnly ? largestIgnoredSecond(x1) : 0, saturated});
    if (details != nullptr) {
      details->secondSimilarity = x2;
      details->halfTurnRetried = true;
    }
  }
  const float published = publishedScore(x1, x2);
  if (score != nullptr) *score = published;
  return 1;
}

int matchTemplates(const uint8_t* firstTemplate, const uint8_t* secondTemplate, float* score) {
  return matchTemplates(firstTemplate, secondTemplate, score, nullptr);
}

}  // namespace fx60::match
