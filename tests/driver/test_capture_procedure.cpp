// The capture procedure both transports share, on a scripted module: a poll that gets
// no answer opens the module afresh, one the module refuses does not, and however the
// capture ends the indicators go off and the module is released once.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <deque>
#include <string>
#include <vector>

#include "driver/capture_procedure.h"
#include "template/layout.h"

namespace fx60 {
namespace {

// Answers polls from a script (the last answer repeats) and records every call.
class ScriptedModule final : public ModuleSession {
 public:
  std::deque<FingerPoll> polls;
  std::deque<bool> reopenResults;  // empty: every reopen succeeds
  std::vector<std::string> calls;

  bool open() override {
    calls.push_back("open");
    return true;
  }
  void setIndicator(Indicator indicator, bool on) override {
    calls.push_back(std::string(indicator == Indicator::Finger ? "finger " : "done ") + (on ? "on" : "off"));
  }
  FingerPoll pollFinger() override {
    const FingerPoll poll = polls.front();
    if (polls.size() > 1) polls.pop_front();
    calls.push_back(poll == FingerPoll::On ? "poll on" : poll == FingerPoll::Off ? "poll off" : "poll none");
    return poll;
  }
  bool reopen() override {
    bool reopened = true;
    if (!reopenResults.empty()) {
      reopened = reopenResults.front();
      reopenResults.pop_front();
    }
    calls.push_back(reopened ? "reopen" : "reopen failed");
    return reopened;
  }
  bool readImage(uint8_t* image) override {
    calls.push_back("read");
    image[0] = 7;
    return true;
  }
  void close() override { calls.push_back("close"); }
};

// HID-like rules with short pauses; pollsBeforeWaiting as in mass storage so that the
// first poll comes before any pause.
constexpr CaptureRules kRules{TransportKind::Hid, CaptureStatus::HidReadFailed, 1, true, true, true, 1};

CaptureStatus capture(ScriptedModule& module, int timeoutMs, int waitLift = 0) {
  std::array<uint8_t, kImageSize> image{};
  return captureImage(module, kRules, 3, image.data(), timeoutMs, waitLift, 1);
}

std::vector<std::string> tail(const std::vector<std::string>& calls, size_t n) {
  return {calls.end() - static_cast<std::ptrdiff_t>(std::min(n, calls.size())), calls.end()};
}

TEST(CaptureProcedure, APollWithoutAnswerOpensTheModuleAfreshAndLightsItsFingerIndicator) {
  ScriptedModule module;
  module.polls = {FingerPoll::Off, FingerPoll::NoAnswer, FingerPoll::NoAnswer, FingerPoll::On};
  module.reopenResults = {false, true};
  EXPECT_EQ(capture(module, 0), CaptureStatus::Done);
  const std::vector<std::string> expected = {
      "open",      "finger on",     "poll off", "poll none", "reopen failed", "poll none", "reopen",   "finger on",
      "poll on",   "read",          "finger off", "done on", "finger off",    "done off",  "close"};
  EXPECT_EQ(module.calls, expected);
}

TEST(CaptureProcedure, ARefusedPollIsNoFingerAndKeepsTheModuleOpen) {
  ScriptedModule module;
  module.polls = {FingerPoll::Off};
  EXPECT_EQ(capture(module, 30), CaptureStatus::TimedOut);
  for (const std::string& call : module.calls) EXPECT_NE(call.rfind("reopen", 0), 0u) << call;
  EXPECT_EQ(tail(module.calls, 3), (std::vector<std::string>{"finger off", "done off", "close"}));
}

TEST(CaptureProcedure, AModuleThatStaysAwayEndsInTheTimeOutAndIsReleasedOnce) {
  ScriptedModule module;
  module.polls = {FingerPoll::NoAnswer};
  module.reopenResults = std::deque<bool>(100000, false);
  EXPECT_EQ(capture(module, 30), CaptureStatus::TimedOut);
  EXPECT_EQ(std::count(module.calls.begin(), module.calls.end(), "close"), 1);
  EXPECT_EQ(tail(module.calls, 1), std::vector<std::string>{"close"});
}

// No answer counts as no finger, so it ends a lift wait, the module opened afresh.
TEST(CaptureProcedure, APollWithoutAnswerInTheLiftWaitCountsAsLiftedAndOpensTheModuleAfresh) {
  ScriptedModule module;
  module.polls = {FingerPoll::On, FingerPoll::NoAnswer, FingerPoll::On};
  EXPECT_EQ(capture(module, 0, 1), CaptureStatus::Done);
  const std::vector<std::string> expected = {"read",      "finger off", "done on",  "poll none", "reopen",
                                             "finger on", "finger off", "done off", "close"};
  EXPECT_EQ(tail(module.calls, expected.size()), expected);
}

}  // namespace
}  // namespace fx60
