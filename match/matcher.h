// Entry point of the matcher: two templates in, similarity score in [0, 1] out.
#pragma once

#include <cstdint>

namespace fx60::match {

struct SimilarityTrace;

// Compares two 512-byte templates (the second already unsealed). Returns 1 on
// success and -1 when a template is unusable; *score is always written (0 on failure).
int matchTemplates(const uint8_t* firstTemplate, const uint8_t* secondTemplate, float* score);

// What matchTemplates computed on the way, for diagnostics.
struct MatchDetails {
  float firstSimilarity = 0;   // x1
  float secondSimilarity = 0;  // x2, when the half-turn retry ran
  bool halfTurnRetried = false;
  SimilarityTrace* firstTrace = nullptr;   // filled when not null
  SimilarityTrace* secondTrace = nullptr;  // filled when not null and the retry ran
};
int matchTemplates(const uint8_t* firstTemplate, const uint8_t* secondTemplate, float* score,
                   MatchDetails* details);

// One comparison of two prepared templates: similarity in [0, 1].
float templateSimilarity(const uint8_t* templateA, const uint8_t* templateB, SimilarityTrace* trace = nullptr);

// True when a first similarity is low enough (40 percent or less, rounded) to try the
// half-turned second template.
bool needsHalfTurnRetry(float x1);

// The published score from the first similarity and, when the retry ran, the second.
float publishedScore(float x1, float x2);

// Clean-up of a native template before comparison: recentres minutiae lying near or
// beyond the image border and keeps at most 70. Returns 0, or -1 for an unusable template.
int normaliseTemplate(uint8_t* tpl);

// Turns the template's minutiae and first two singular points by half a turn about
// the image centre.
void rotateTemplate180(uint8_t* tpl);

}  // namespace fx60::match
