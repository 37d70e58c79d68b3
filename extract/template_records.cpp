#include <algorithm>
#include <array>
#include <span>

#include "extract/minutiae_stages.h"
#include "template/feature_template.h"

namespace fx60::extract {

MinutiaRecord templateRecordOf(const Minutia& minutia) {
  // Degrees clockwise, rounded; the last half step stays at 359 rather than wrapping.
  const int clockwise = std::min(359, (minutia.direction256 * 360 + 128) >> 8);
  return {minutia.x, minutia.y, wrapDegrees(360 - clockwise)};
}

int writeTemplateOf(const MinutiaList& minutiae, uint8_t* tpl) {
  std::array<MinutiaRecord, kMaxMinutiae> records;
  const int count = std::min<int>(minutiae.count, kMaxMinutiae);
  for (int i = 0; i < count; ++i) records[i] = templateRecordOf(minutiae.entries[i]);
  return WriteTemplate(std::span(records.data(), count), tpl);
}

}  // namespace fx60::extract
