#include "driver/capture_procedure.h"

#include <string>

#include "driver/shared_capture_flags.h"
#include "platform/clock.h"
#include "platform/device_log.h"

namespace fx60 {
namespace {

// Ends a capture whatever its outcome: indicators off, module released, bytes cleared.
class CaptureScope {
 public:
  CaptureScope(ModuleSession& module, TransportKind kind, int index) : module_(module), kind_(kind), index_(index) {}
  ~CaptureScope() {
    if (opened_) {
      module_.setIndicator(Indicator::Finger, false);
      module_.setIndicator(Indicator::Done, false);
      module_.close();
    }
    capture_flags::end(kind_, index_);
  }
  CaptureScope(const CaptureScope&) = delete;
  CaptureScope& operator=(const CaptureScope&) = delete;

  void opened() { opened_ = true; }

 private:
  ModuleSession& module_;
  TransportKind kind_;
  int index_;
  bool opened_ = false;
};

// The cancel byte and the limit, once a wait is over (or was not made). elapsed stays
// -1 when nothing was measured, which only a limit below -1 exceeds.
CaptureStatus checkCancelAndTime(const CaptureRules& rules, int index, int64_t elapsed, int timeoutMs) {
  if (capture_flags::cancelRequested(rules.kind, index)) return CaptureStatus::Cancelled;
  if (elapsed > timeoutMs) return CaptureStatus::TimedOut;
  return CaptureStatus::Done;
}

// A poll whose exchange failed counts as no finger, but the module may have been
// unplugged: a handle to it stays dead even once it is back. So the module is opened
// afresh (its finger indicator on again) as soon as discovery finds it, and a wait
// without a time limit resumes when the module is plugged back in. `lost` keeps the
// log to one line when the module goes away and one when it is back.
bool fingerOn(ModuleSession& module, const CaptureRules& rules, bool& lost) {
  const FingerPoll poll = module.pollFinger();
  if (poll == FingerPoll::NoAnswer) {
    if (!lost)
      platform::logDeviceEvent({platform::DeviceEvent::Kind::Failed, "finger poll",
                                "no answer; the module is opened afresh once it is back", 0});
    lost = true;
    if (module.reopen()) {
      module.setIndicator(Indicator::Finger, true);
      platform::logDeviceEvent({platform::DeviceEvent::Kind::Retry, "finger poll", "the module opened afresh", 0});
      lost = false;
    } else if (rules.reopenPauseMs > 0) {
      platform::sleepMs(rules.reopenPauseMs);
    }
  }
  return poll == FingerPoll::On;
}

// Polls until the finger is on (wanted) or off, the time is up or a cancel arrives.
// With no limit (0) the elapsed time is never measured; with -1 the loop makes one
// pass; below -1 it makes none.
CaptureStatus waitForFingerState(ModuleSession& module, const CaptureRules& rules, int index, int timeoutMs, bool wanted) {
  int64_t elapsed = -1;
  const int64_t start = platform::monotonicMs();
  bool lost = false;
  const bool reached = rules.pollsBeforeWaiting && fingerOn(module, rules, lost) == wanted;
  if (!reached && timeoutMs >= -1) {
    do {
      if (capture_flags::cancelRequested(rules.kind, index)) return CaptureStatus::Cancelled;
      if (rules.pollPauseMs > 0)
        platform::sleepMs(rules.pollPauseMs);
      else
        platform::pumpOneMessage();
      const bool on = fingerOn(module, rules, lost);
      if (timeoutMs != 0) elapsed = platform::monotonicMs() - start;
      if (on == wanted) break;
    } while (elapsed <= timeoutMs);
  }
  const CaptureStatus status = checkCancelAndTime(rules, index, elapsed, timeoutMs);
  if (status == CaptureStatus::TimedOut)
    platform::logDeviceEvent({platform::DeviceEvent::Kind::TimedOut,
                              wanted ? "waiting for a finger" : "waiting for the finger to lift",
                              "after " + std::to_string(elapsed) + " ms", 0});
  return status;
}

}  // namespace

CaptureStatus captureImage(ModuleSession& module, const CaptureRules& rules, int index, uint8_t* image, int timeoutMs,
                           int waitLift, int waitForFinger) {
  if (index < 0 || index > kMaxDeviceIndex) return CaptureStatus::BadIndex;
  if (!capture_flags::tryBegin(rules.kind, index)) return CaptureStatus::Busy;
  CaptureScope scope(module, rules.kind, index);
  if (!module.open()) return CaptureStatus::NoModule;
  scope.opened();
  module.setIndicator(Indicator::Finger, true);

  if (waitForFinger == 1) {
    if (const CaptureStatus status = waitForFingerState(module, rules, index, timeoutMs, true); status != CaptureStatus::Done)
      return status;
  } else if (rules.checksWithoutWaiting) {
    if (const CaptureStatus status = checkCancelAndTime(rules, index, -1, timeoutMs); status != CaptureStatus::Done)
      return status;
  }
  if (!module.readImage(image)) return rules.readFailure;
  module.setIndicator(Indicator::Finger, false);
  module.setIndicator(Indicator::Done, true);
  if (waitLift == 1 || (rules.anyLiftFlagWaits && waitLift != 0))
    return waitForFingerState(module, rules, index, timeoutMs, false);
  return CaptureStatus::Done;
}

}  // namespace fx60
