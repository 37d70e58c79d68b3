// The algorithm behind the exports: quality score, extraction and matching, plus
// the process-wide flag that gates scoring and extraction.
#pragma once

#include <atomic>
#include <cstdint>

namespace fx60 {

// Set while a capture-and-extract loop runs and around each extraction; cleared by
// matching and by the algorithm version query. While clear, loops skip scoring and
// extraction refuses.
std::atomic<int32_t>& extractArmed();

struct AlgorithmEngine {
  uint8_t (*imageQuality)(uint8_t* image);                   // destroys the image
  int (*extractUnsealed)(uint8_t* image, uint8_t* tpl);      // destroys the image
  int (*matchTemplates)(const uint8_t* a, const uint8_t* b, float* score);
};

// The engine the exports use: the library's extractor and matcher. Tests may swap
// parts of it and must restore it.
AlgorithmEngine& algorithmEngine();

// The real extractor and matcher.
AlgorithmEngine defaultAlgorithmEngine();

// Extracts and seals the template of a 92160-byte image (read only). 1 on success
// (quality byte at least 20), 0 when the quality is lower or sealing failed, -9 when
// extraction is not armed, -2 when no working copy could be made. templateOut holds
// the sealed template whenever sealing succeeded.
int ExtractSealedTemplate(const uint8_t* image, uint8_t* templateOut);

// Checks templateB's seal on a private copy, then matches. Returns 1 and a score
// in 0..1, -10 when templateB's seal is not valid (score 0), or the matcher's status.
int MatchSealedTemplates(const uint8_t* templateA, const uint8_t* templateB, float* score);

}  // namespace fx60
