// The capture procedure both transports share: claim the index, open the module, light
// the finger indicator, wait for a finger, read the image, switch to the done
// indicator, wait for the lift, and always end with both indicators off, the module
// released and the index's bytes cleared. The transports differ only in how they talk
// to the module (a ModuleSession) and in a few rules of the waits (CaptureRules).
#pragma once

#include <cstdint>

#include "driver/status.h"
#include "driver/transport.h"

namespace fx60 {

enum class Indicator : uint8_t { Finger, Done };

// One poll of the finger sensor. NoAnswer: the exchange itself failed (the module may
// have been unplugged), unlike Off, where the module answered that no finger lies on it.
enum class FingerPoll : uint8_t { On, Off, NoAnswer };

// A finger detection command's result as a poll: the module answers success when a
// finger lies on it and refuses when none does; any other failure is no answer.
constexpr FingerPoll fingerPoll(CommandStatus detection) {
  if (detection == CommandStatus::Done) return FingerPoll::On;
  return detection == CommandStatus::Refused ? FingerPoll::Off : FingerPoll::NoAnswer;
}

// The module as one capture sees it.
class ModuleSession {
 public:
  virtual ~ModuleSession() = default;
  // Finds and opens the module (on HID, also says hello). False when that fails.
  virtual bool open() = 0;
  virtual void setIndicator(Indicator indicator, bool on) = 0;
  virtual FingerPoll pollFinger() = 0;
  // Releases the module and opens it afresh; false when it is not back yet.
  virtual bool reopen() = 0;
  // The 256 x 360 image into image; false when the read-out failed.
  virtual bool readImage(uint8_t* image) = 0;
  // Releases the module; called once after a successful open, whatever the outcome.
  virtual void close() = 0;
};

struct CaptureRules {
  TransportKind kind;
  CaptureStatus readFailure;  // what a failed read-out ends the capture with
  // Between two polls of a wait: this many milliseconds of sleep, or with 0 one window
  // message of the calling thread pumped instead.
  int pollPauseMs;
  // Mass storage polls once before the wait; HID only inside it.
  bool pollsBeforeWaiting;
  // HID checks the cancel byte and the time even when told not to wait for a finger;
  // mass storage then reads the image at once.
  bool checksWithoutWaiting;
  // HID waits for the lift for any non-zero waitLift, mass storage only for 1.
  bool anyLiftFlagWaits;
  // After an attempt to open a module that has gone away, this many milliseconds of
  // sleep (mass storage, whose polls do not sleep), or none (HID).
  int reopenPauseMs;
};

CaptureStatus captureImage(ModuleSession& module, const CaptureRules& rules, int index, uint8_t* image, int timeoutMs,
                           int waitLift, int waitForFinger);

}  // namespace fx60
