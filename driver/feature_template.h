// The 512-byte feature template: layout, check byte, seal.
// Shared by the driver, the extractor (which writes templates) and the matcher (which reads them).
#pragma once

#include <cstddef>
#include <cstdint>

namespace fx60 {

inline constexpr int kImageWidth = 256;
inline constexpr int kImageHeight = 360;
inline constexpr int kImageSize = kImageWidth * kImageHeight;  // 92160

inline constexpr int kTemplateSize = 512;
inline constexpr int kPackedMinutiaeSize = 488;

// Byte offsets inside a template.
inline constexpr int kTemplateMagicByte = 0;  // always 0x43
inline constexpr uint8_t kTemplateMagic = 0x43;
inline constexpr int kTemplateQualityByte = 6;
inline constexpr int kTemplateCountByte = 19;
inline constexpr int kTemplateLengthHigh = 20;
inline constexpr int kTemplateSingularPoints = 22;  // three 3-byte slots, 22..30
inline constexpr int kTemplateFirstMinutia = 31;    // 4 bytes per record
inline constexpr int kTemplateSealByte = 490;
inline constexpr int kTemplateDigest = 491;  // 20 bytes, 491..510
inline constexpr int kTemplateCheckByte = 511;
inline constexpr int kSealedSpan = 490;  // bytes 0..489 are hashed

// CRC-8 with polynomial 0xD5, initial value 0, no reflection, no final XOR.
uint8_t crc8DvbS2(const uint8_t* data, size_t length);

// Check byte of a template: CRC over bytes 0..510.
uint8_t templateCheckByte(const uint8_t* tpl);
void updateCheckByte(uint8_t* tpl);
bool checkByteIsValid(const uint8_t* tpl);

// Native templates carry 1, 18, 14 in bytes 1..3; every template this library writes is native.
bool isNativeTemplate(const uint8_t* tpl);

// Writes the empty template (no minutiae, quality 0).
void BuildEmptyTemplate(uint8_t* tpl);

// Builds a template from a 488-byte packed minutiae record. Returns 0 on success,
// 1 when the record holds no minutiae (the template is then left all zero).
int WriteTemplate(const uint8_t* packed, uint8_t* tpl);

// Seals in place: byte 490 = former check byte, 491..510 = masked SHA-1 of bytes 0..489.
// Returns 1 on success, 0 when hashing failed.
int SealTemplate(uint8_t* tpl);

// Returns 1 and rewrites the template in its unsealed form when the seal is valid,
// 0 otherwise (template untouched).
int VerifyTemplateSeal(uint8_t* tpl);

}  // namespace fx60
