// The numbers the exports return for each named result: the one place where the
// library's results meet the status codes of fx60link.h.
#pragma once

#include <array>
#include <cstddef>

#include "driver/status.h"

namespace fx60 {

namespace public_codes {

template <typename Result, std::size_t N>
struct Table {
  std::array<int, N> codes;
  constexpr int operator[](Result result) const { return codes[static_cast<std::size_t>(result)]; }
};

inline constexpr Table<CaptureStatus, 9> kCapture = {{
    0,    // Done
    -1,   // NoModule
    -2,   // Cancelled
    -3,   // TimedOut
    -4,   // StorageReadFailed
    -5,   // HidReadFailed
    -6,   // NoTemplate
    -10,  // BadIndex
    -11,  // Busy
}};

inline constexpr Table<FingerState, 3> kFinger = {{
    1,   // Present
    0,   // Absent
    -1,  // OpenFailed
}};

inline constexpr Table<CancelStatus, 3> kCancel = {{
    0,    // Cancelled
    -10,  // BadIndex
    -11,  // NotRunning
}};

inline constexpr Table<MatchDecision, 3> kMatch = {{
    0,   // Match
    -1,  // NoMatch
    -2,  // InvalidTemplate
}};

static_assert(kCapture[CaptureStatus::Busy] == -11 && kFinger[FingerState::OpenFailed] == -1 &&
              kCancel[CancelStatus::NotRunning] == -11 && kMatch[MatchDecision::InvalidTemplate] == -2);

}  // namespace public_codes

constexpr int publicCode(CaptureStatus status) { return public_codes::kCapture[status]; }
constexpr int publicCode(FingerState state) { return public_codes::kFinger[state]; }
constexpr int publicCode(CancelStatus status) { return public_codes::kCancel[status]; }
constexpr int publicCode(MatchDecision decision) { return public_codes::kMatch[decision]; }

}  // namespace fx60
