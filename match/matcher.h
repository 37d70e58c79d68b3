// Entry point of the matcher: two templates in, similarity score in [0, 1] out.
#pragma once

#include <cstdint>

namespace fx60::match {

// Compares two 512-byte templates (the second already unsealed). Returns 1 on
// success and -1 when a template is unusable; *score is always written (0 on failure).
int matchTemplates(const uint8_t* firstTemplate, const uint8_t* secondTemplate, float* score);

}  // namespace fx60::match
