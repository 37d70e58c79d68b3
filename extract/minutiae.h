// Minutia records passed between the later extraction stages.
#pragma once

#include <array>
#include <cstdint>

namespace fx60::extract {

inline constexpr uint8_t kRidgeEnding = 1;
inline constexpr uint8_t kBifurcation = 2;

// A direction240 of this value marks a removed candidate.
inline constexpr uint8_t kRemovedDirection = 255;

inline constexpr int kMaxCandidates = 250;
inline constexpr int kMaxMinutiae = 100;

// A raw minutia found on the skeleton. Directions run clockwise on the screen
// (from +x towards +y): direction240 in 1.5 degree steps, direction256 in 1/256 turns.
struct MinutiaCandidate {
  uint16_t x = 0;
  uint16_t y = 0;
  uint8_t kind = 0;  // kRidgeEnding or kBifurcation
  uint8_t direction240 = 0;
  uint8_t direction256 = 0;
};

struct MinutiaCandidateList {
  uint32_t count = 0;
  std::array<MinutiaCandidate, kMaxCandidates> entries{};
};

// A selected minutia as it goes into the template.
struct Minutia {
  uint16_t x = 0;
  uint16_t y = 0;
  uint8_t kind = 0;
  uint8_t direction256 = 0;
};

struct MinutiaList {
  uint16_t count = 0;
  std::array<Minutia, kMaxMinutiae> entries{};
};

}  // namespace fx60::extract
