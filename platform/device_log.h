// A short log of what the device layer saw, for people setting up a module: the device
// nodes listed, those that could not be opened and why, every retry and time-out. Off
// unless FX60_LOG is "stderr" or a file path (appended to); the library writes nothing
// otherwise. A program may also watch the events itself (fx60 detect -v).
#pragma once

#include <functional>
#include <string>

namespace fx60::platform {

struct DeviceEvent {
  enum class Kind {
    Listed,      // a device node of a wanted class is present
    Opened,      // it opened
    OpenFailed,  // it did not open; error holds the system's error number
    Ignored,     // present and opened, but not a module (or not usable as one)
    Retry,       // a transfer is repeated after a transport error
    TimedOut,    // a transfer, a response or a wait ran out of time
    Failed,      // a transfer or an exchange failed
  };
  Kind kind = Kind::Listed;
  std::string where;   // a device path or the operation
  std::string detail;  // what was seen, in a few words
  int error = 0;       // errno of a failed system call, 0 otherwise
};

// The detail of events about the socket of a simulated device.
inline constexpr const char* kSimulatorSocketDetail = "simulator socket";

// One line of the log: the event in plain words, with the system's text for the error.
std::string describeDeviceEvent(const DeviceEvent& event);

// True when FX60_LOG turns the log on, or a watcher is set.
bool deviceLogActive();

// Records the event: to the log when it is on (what discovery finds only the first
// time, since it runs before every capture attempt), and to the watcher when one is set.
void logDeviceEvent(const DeviceEvent& event);

// Sets (or, with an empty function, clears) the watcher of this process. The watcher
// is called on the thread that saw the event.
void watchDeviceEvents(std::function<void(const DeviceEvent&)> watcher);

}  // namespace fx60::platform
