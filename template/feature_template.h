// The 512-byte feature template: the empty template, writing one from minutia
// records, the native test and the check byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "template/layout.h"
#include "template/minutia_record.h"

namespace fx60 {

// Check byte of a template: CRC-8 over bytes 0..510.
uint8_t templateCheckByte(const uint8_t* tpl);
void updateCheckByte(uint8_t* tpl);
bool checkByteIsValid(const uint8_t* tpl);

// Native templates carry 1, 18, 14 in bytes 1..3; every template this library writes is native.
bool isNativeTemplate(const uint8_t* tpl);

// Writes the empty template (no minutiae, quality 0).
void BuildEmptyTemplate(uint8_t* tpl);

// Writes the template of the minutiae, in order (at most the first 100), with quality
// byte 0 and every angle below 360. Returns 0 on success, 1 when there are no minutiae
// (the template is then left all zero).
int WriteTemplate(std::span<const MinutiaRecord> minutiae, uint8_t* tpl);

}  // namespace fx60
