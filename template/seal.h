// The seal: a SHA-1 digest of bytes 0..489, masked with the check byte and stored in
// bytes 490..510, which this library adds to every template it hands out and asks
// of the second template of every comparison.
#pragma once

#include <cstdint>

namespace fx60 {

// Seals in place: byte 490 = former check byte, 491..510 = masked SHA-1 of bytes 0..489.
// Returns 1 on success, 0 when hashing failed.
int SealTemplate(uint8_t* tpl);

// Returns 1 and rewrites the template in its unsealed form when the seal is valid,
// 0 otherwise (template untouched).
int VerifyTemplateSeal(uint8_t* tpl);

}  // namespace fx60
