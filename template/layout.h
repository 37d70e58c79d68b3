// Sizes and byte layout of the fingerprint image and of the 512-byte feature template.
// The extractor writes templates, the matcher and the tools read them, the driver
// seals them: all of them take the layout from here.
#pragma once

#include <cstdint>

namespace fx60 {

inline constexpr int kImageWidth = 256;
inline constexpr int kImageHeight = 360;
inline constexpr int kImageSize = kImageWidth * kImageHeight;  // 92160

inline constexpr int kTemplateSize = 512;

// Byte offsets inside a template.
inline constexpr int kTemplateMagicByte = 0;  // always 0x43
inline constexpr uint8_t kTemplateMagic = 0x43;
inline constexpr int kTemplateQualityByte = 6;
inline constexpr int kTemplateCountByte = 19;
inline constexpr int kTemplateLengthHigh = 20;      // count x 4 + 9, big-endian, 20..21
inline constexpr int kTemplateSingularPoints = 22;  // three 3-byte slots, 22..30
inline constexpr int kTemplateFirstMinutia = 31;    // 4 bytes per record
inline constexpr int kTemplateSealByte = 490;
inline constexpr int kTemplateDigest = 491;  // 20 bytes, 491..510
inline constexpr int kTemplateCheckByte = 511;
inline constexpr int kSealedSpan = 490;  // bytes 0..489 are hashed

inline constexpr int kSingularPointSlots = 3;
inline constexpr int kSingularPointRecordSize = 3;
inline constexpr int kMinutiaRecordSize = 4;
// The most minutiae this library writes into a template.
inline constexpr int kMaxWrittenMinutiae = 100;

}  // namespace fx60
