// fx60 detect: whether a finger lies on the sensor. With -v it also tells, in plain
// words, what the device layer found on the way (device nodes, those it could not
// open and why, devices that are not the module) and suggests how to fix what stood
// in the way.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "driver/library_api.h"
#include "driver/shared_capture_flags.h"
#include "driver/transport.h"
#include "platform/device_log.h"
#include "tools/commands.h"
#include "tools/support/command_line.h"

namespace fx60::tool {
namespace {

using platform::DeviceEvent;

bool isSimulatorSocket(const DeviceEvent& event) { return event.detail == platform::kSimulatorSocketDetail; }

// What the user can do about an event, or empty when nothing is needed.
std::string adviceFor(const DeviceEvent& event) {
  if (event.kind == DeviceEvent::Kind::OpenFailed) {
    switch (event.error) {
      case EACCES:
      case EPERM:
        return "your user may not read and write this node. Install the udev rule "
               "(sudo cp resources/udev/70-fx60.rules /etc/udev/rules.d/ && sudo udevadm control --reload-rules "
               "&& sudo udevadm trigger), plug the module in again, and make sure you are in the plugdev group "
               "(see docs/real-module.md).";
      case EBUSY:
        return "another program holds the device (a desktop auto-mounter, say); close it. The udev rule tells "
               "auto-mounters to leave the module alone.";
      case ENOENT:
        return isSimulatorSocket(event) ? "no simulator listens there: start fx60-sim on that socket, or correct "
                                       "FX60_SIMULATOR."
                                     : "the node went away: was the module unplugged?";
      case ECONNREFUSED:
        return "the socket exists but no simulator accepts connections: start fx60-sim on it again.";
      default:
        return "";
    }
  }
  if (event.kind == DeviceEvent::Kind::Ignored)
    return "another device of the same kind; nothing to do if the module is found elsewhere.";
  if (event.kind == DeviceEvent::Kind::TimedOut || event.kind == DeviceEvent::Kind::Failed)
    return "the module did not answer as expected: plug it in again, try another USB port or cable.";
  return "";
}

// The event in plain words.
std::string plainWords(const DeviceEvent& event) {
  const std::string reason = event.error != 0 ? std::string(": ") + std::strerror(event.error) : "";
  const std::string detail = event.detail.empty() ? "" : " (" + event.detail + ")";
  switch (event.kind) {
    case DeviceEvent::Kind::Listed: return "found " + event.where + ": " + event.detail;
    case DeviceEvent::Kind::Opened: return event.where + " is " + event.detail;
    case DeviceEvent::Kind::OpenFailed: return "cannot open " + event.where + detail + reason;
    case DeviceEvent::Kind::Ignored: return event.where + " is not the module: " + event.detail;
    case DeviceEvent::Kind::Retry: return event.where + " repeated: " + event.detail + reason;
    case DeviceEvent::Kind::TimedOut: return event.where + " ran out of time: " + event.detail;
    case DeviceEvent::Kind::Failed: return event.where + " failed" + (event.detail.empty() ? "" : ": " + event.detail) + reason;
  }
  return event.where;
}

// One line per distinct event, in the order they happened, each with its advice.
void explain(const std::vector<DeviceEvent>& events) {
  std::set<std::string> shown;
  bool anyDevice = false;
  bool moduleFound = false;
  for (const DeviceEvent& event : events) {
    const std::string line = "  " + plainWords(event);
    if (!shown.insert(line).second) continue;
    std::printf("%s\n", line.c_str());
    if (const std::string advice = adviceFor(event); !advice.empty()) std::printf("    -> %s\n", advice.c_str());
    anyDevice = anyDevice || event.kind == DeviceEvent::Kind::Listed || event.kind == DeviceEvent::Kind::OpenFailed;
    moduleFound = moduleFound || event.kind == DeviceEvent::Kind::Opened;
  }
  if (!anyDevice)
    std::printf("  no SCSI CD-ROM node, no HID device and no simulator socket was found\n"
                "    -> plug the module in (dmesg should show it; lsusb lists 821b:0202), or point FX60_SIMULATOR "
                "at a running fx60-sim.\n");
  else if (!moduleFound)
    std::printf("  none of them is a usable module\n");
}

int runDetect(const std::vector<std::string>& args) {
  int index = 0;
  bool verbose = false;
  CommandLine line("detect");
  line.number("--index", index, 0, kMaxDeviceIndex);
  line.flag("-v", verbose);
  line.flag("--verbose", verbose);
  if (!line.parse(args)) return kExitUsage;
  std::vector<DeviceEvent> events;
  if (verbose) platform::watchDeviceEvents([&](const DeviceEvent& event) { events.push_back(event); });
  const int result = api::detectFingerprint(index);
  if (verbose) {
    platform::watchDeviceEvents({});
    std::printf("What the device layer saw:\n");
    explain(events);
  }
  if (result == 1) {
    std::printf("finger\n");
    return kExitDone;
  }
  if (result < 0) {
    std::printf("no finger: the module failed to open\n");
  } else {
    // The library answers 0 both without a finger and without a module; which it was
    // is worth telling.
    std::printf(SelectTransport() == nullptr ? "no finger: no module found\n" : "no finger\n");
  }
  return kExitFailed;
}

const CommandRegistration detectCommand(
    {"detect", "[-v] [--index N]", "whether a finger lies on the module now",
     R"help(Asks the module once and prints "finger" or "no finger" (with the reason when
no module was found or it failed to open).

options:
  --index N     the module, 0 to 15 (default 0): on mass storage the N-th module
                found; on HID always the first, N naming the capture's slot
  -v, --verbose first tell, in plain words, what the device layer saw on the way:
                the device nodes and simulator sockets found, those it could not
                open and why, devices that are not the module, each with its fix
                (default: only the answer)
  -h, --help    this text

exit status: 0 a finger; 1 no finger, no module, or the module failed to open;
2 bad usage

example: FX60_SIMULATOR=/tmp/fx60.sock fx60 detect -v
)help",
     runDetect});

}  // namespace
}  // namespace fx60::tool
