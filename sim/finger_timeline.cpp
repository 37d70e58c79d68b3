#include "sim/finger_timeline.h"

#include <charconv>

namespace fx60::sim {

namespace {

bool isSeparator(char c) { return c == ',' || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ';'; }

std::optional<TimelineStep> parseStep(std::string_view word, std::string* error) {
  TimelineStep step;
  const size_t colon = word.find(':');
  const std::string_view name = word.substr(0, colon);
  if (name == "absent" || name == "lifted") {
    step.state = FingerState::Absent;
  } else if (name == "present") {
    step.state = FingerState::Present;
  } else {
    if (error) *error = "unknown finger state '" + std::string(name) + "'";
    return std::nullopt;
  }
  if (colon == std::string_view::npos) {
    step.amount = 1;  // a bare state lasts one poll unless it is the last step
    return step;
  }
  std::string_view amount = word.substr(colon + 1);
  if (amount.ends_with("ms")) {
    step.unit = TimelineStep::Unit::Milliseconds;
    amount.remove_suffix(2);
  }
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(amount.data(), amount.data() + amount.size(), value);
  if (ec != std::errc() || end != amount.data() + amount.size() || value < 0 || amount.empty()) {
    if (error) *error = "bad duration in '" + std::string(word) + "'";
    return std::nullopt;
  }
  step.amount = value;
  return step;
}

}  // namespace

FingerTimeline FingerTimeline::constant(FingerState state) {
  FingerTimeline timeline;
  timeline.steps_.push_back(TimelineStep{state, TimelineStep::Unit::Polls, 0});
  return timeline;
}

std::optional<FingerTimeline> FingerTimeline::parse(std::string_view script, std::string* error) {
  FingerTimeline timeline;
  size_t at = 0;
  while (at < script.size()) {
    if (script[at] == '#') {
      while (at < script.size() && script[at] != '\n') ++at;
      continue;
    }
    if (isSeparator(script[at])) {
      ++at;
      continue;
    }
    size_t end = at;
    while (end < script.size() && !isSeparator(script[end]) && script[end] != '#') ++end;
    auto step = parseStep(script.substr(at, end - at), error);
    if (!step) return std::nullopt;
    timeline.steps_.push_back(*step);
    at = end;
  }
  if (timeline.steps_.empty()) {
    if (error) *error = "empty finger script";
    return std::nullopt;
  }
  return timeline;
}

void FingerTimeline::settle(Cursor& cursor, int64_t nowMs) const {
  if (!cursor.started) {
    cursor.started = true;
    cursor.stepStartMs = nowMs;
  }
  while (cursor.step + 1 < steps_.size()) {
    const TimelineStep& step = steps_[cursor.step];
    if (step.unit == TimelineStep::Unit::Milliseconds) {
      if (nowMs - cursor.stepStartMs < step.amount) return;
      cursor.stepStartMs += step.amount;
    } else {
      if (cursor.pollsInStep < step.amount) return;
      cursor.stepStartMs = nowMs;
    }
    ++cursor.step;
    cursor.pollsInStep = 0;
  }
}

FingerState FingerTimeline::poll(int64_t nowMs) {
  settle(cursor_, nowMs);
  ++cursor_.pollsInStep;
  return steps_[cursor_.step].state;
}

FingerState FingerTimeline::peek(int64_t nowMs) const {
  Cursor cursor = cursor_;
  settle(cursor, nowMs);
  return steps_[cursor.step].state;
}

}  // namespace fx60::sim
