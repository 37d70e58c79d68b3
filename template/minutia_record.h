// The record codec of a template: one minutia in 4 bytes and one singular point in 3,
// with their 9-bit fields split over two bytes, and the angle convention.
#pragma once

#include <cstdint>

#include "template/layout.h"

namespace fx60 {

// A minutia as a template stores it. x is the column (8 bits), y the row (9 bits).
// The angle (9 bits) is in whole degrees, anticlockwise on the screen from +x: the
// direction (cos a, -sin a) with y growing downwards. This library writes 0..359.
struct MinutiaRecord {
  int x = 0;
  int y = 0;
  int angle = 0;
};

// Angles of 360 and more fit the field but name the angle a full turn less (a stored
// 360 means 0). Every writer that rewrites an angle keeps it below 360 this way.
constexpr int wrapDegrees(int angle) { return angle % 360; }

// The angle pointing the other way, below 360.
constexpr int oppositeDegrees(int angle) { return (angle + 180) % 360; }

// Record `index` of the template: b0 x, b1 y bits 0..7, b2 angle bits 0..7,
// b3 0xFC | (angle bit 8) << 1 | (y bit 8).
inline MinutiaRecord readMinutiaRecord(const uint8_t* tpl, int index) {
  const uint8_t* r = tpl + kTemplateFirstMinutia + kMinutiaRecordSize * index;
  return {r[0], r[1] | (r[3] & 1) << 8, r[2] | ((r[3] >> 1) & 1) << 8};
}

// Writes record `index`; fields wider than theirs keep their low bits.
inline void writeMinutiaRecord(uint8_t* tpl, int index, const MinutiaRecord& m) {
  uint8_t* r = tpl + kTemplateFirstMinutia + kMinutiaRecordSize * index;
  r[0] = static_cast<uint8_t>(m.x);
  r[1] = static_cast<uint8_t>(m.y);
  r[2] = static_cast<uint8_t>(m.angle);
  r[3] = static_cast<uint8_t>(0xFC | ((m.angle >> 8) & 1) << 1 | ((m.y >> 8) & 1));
}

// A singular point of a template slot: b0 x (0 in an empty slot), b1 y bits 0..7,
// b2 0xFE | (y bit 8).
struct SingularPointRecord {
  int x = 0;
  int y = 0;
};

inline SingularPointRecord readSingularPoint(const uint8_t* tpl, int slot) {
  const uint8_t* s = tpl + kTemplateSingularPoints + kSingularPointRecordSize * slot;
  return {s[0], s[1] | (s[2] & 1) << 8};
}

inline void writeSingularPoint(uint8_t* tpl, int slot, const SingularPointRecord& point) {
  uint8_t* s = tpl + kTemplateSingularPoints + kSingularPointRecordSize * slot;
  s[0] = static_cast<uint8_t>(point.x);
  s[1] = static_cast<uint8_t>(point.y);
  s[2] = static_cast<uint8_t>(0xFE | ((point.y >> 8) & 1));
}

}  // namespace fx60
