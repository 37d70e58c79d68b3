// When a finger lies on the simulated sensor: a script of steps, each lasting a
// number of finger polls or milliseconds, or a state set live.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fx60::sim {

enum class FingerState { Absent, Present };

struct TimelineStep {
  enum class Unit { Polls, Milliseconds };
  FingerState state = FingerState::Absent;
  Unit unit = Unit::Polls;
  int64_t amount = 0;  // ignored for the last step, which lasts for ever
};

// Script syntax: steps separated by commas, spaces or new lines, each
// "absent", "present" or "lifted" (the same as absent), optionally followed by
// ":N" (N finger polls) or ":Nms" (N milliseconds). '#' starts a comment.
// Example: "absent:3 present:400ms lifted".
// The clock of the first step starts at the first poll.
class FingerTimeline {
 public:
  static FingerTimeline constant(FingerState state);
  static std::optional<FingerTimeline> parse(std::string_view script, std::string* error = nullptr);

  // Answers one finger poll made at nowMs and advances the script.
  FingerState poll(int64_t nowMs);

  // The state a poll at nowMs would see, without counting as a poll.
  FingerState peek(int64_t nowMs) const;

 private:
  struct Cursor {
    size_t step = 0;
    int64_t stepStartMs = 0;
    int64_t pollsInStep = 0;
    bool started = false;
  };
  // Moves past every step that has ended by nowMs (or by its poll count).
  void settle(Cursor& cursor, int64_t nowMs) const;

  std::vector<TimelineStep> steps_;
  Cursor cursor_;
};

}  // namespace fx60::sim
