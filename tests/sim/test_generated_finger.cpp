// The simulator's own finger, served when no images are given, behaves as a real
// one: every impression yields a template, minutiae spread over the print instead
// of lining up on a seam, and the impressions match each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "extract/extractor.h"
#include "match/matcher.h"
#include "sim/image_source.h"
#include "template/feature_template.h"

namespace fx60::sim {
namespace {

using Template = std::array<uint8_t, kTemplateSize>;

TEST(GeneratedFinger, ImpressionsEnrolSpreadTheirMinutiaeAndMatchEachOther) {
  ImageSource source;  // seed 1, as fx60-sim without --seed
  std::vector<Template> templates;
  for (size_t i = 0; i < kGeneratedPrints; ++i) {
    SensorImage image = source.next();
    ASSERT_EQ(image.size(), static_cast<size_t>(kSensorBytes));
    Template tpl{};
    extract::extractUnsealedTemplate(image.data(), tpl.data());
    SCOPED_TRACE("impression " + std::to_string(i + 1));
    ASSERT_GE(tpl[kTemplateQualityByte], 20);
    const int count = tpl[kTemplateCountByte];
    ASSERT_GE(count, 15);
    // No band of 6 rows holds a quarter of the minutiae.
    std::vector<int> rows;
    for (int m = 0; m < count; ++m) {
      const uint8_t* record = tpl.data() + kTemplateFirstMinutia + 4 * m;
      rows.push_back((record[3] & 1) * 256 + record[1]);
    }
    std::sort(rows.begin(), rows.end());
    for (size_t m = 0; m < rows.size(); ++m) {
      const auto bandEnd = std::upper_bound(rows.begin(), rows.end(), rows[m] + 5);
      EXPECT_LT((bandEnd - rows.begin() - static_cast<long>(m)) * 4, count) << "rows from " << rows[m];
    }
    templates.push_back(tpl);
  }
  int pairs = 0, matches = 0;
  for (size_t a = 0; a < templates.size(); ++a)
    for (size_t b = a + 1; b < templates.size(); ++b) {
      float score = 0;
      ASSERT_EQ(match::matchTemplates(templates[a].data(), templates[b].data(), &score), 1);
      ++pairs;
      matches += score >= 0.34f;  // level 3, the station's
    }
  EXPECT_GE(matches * 10, pairs * 8) << matches << " of " << pairs << " pairs match at level 3";
}

}  // namespace
}  // namespace fx60::sim
