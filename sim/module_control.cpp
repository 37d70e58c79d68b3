// The live commands of fx60-sim's control socket.
#include <sstream>

#include "sim/simulated_module.h"

namespace fx60::sim {

namespace {

std::string describeStatus(const ModuleStatus& status) {
  std::ostringstream out;
  out << "plugged=" << (status.plugged ? 1 : 0)
      << " finger=" << (status.finger == FingerState::Present ? "present" : "absent") << " indicators=";
  bool first = true;
  for (const auto& [indicator, state] : status.indicators) {
    out << (first ? "" : ",") << indicator << ':' << state;
    first = false;
  }
  if (first) out << '-';
  out << " polls=" << status.fingerPolls << " images=" << status.imagesServed << " writes=" << status.writes
      << " reads=" << status.reads << " links=" << status.openLinks;
  return out.str();
}

}  // namespace

std::string SimulatedModule::control(const std::string& line, int64_t nowMs, bool& dropLinks) {
  const size_t space = line.find(' ');
  const std::string verb = line.substr(0, space);
  const std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
  std::string error;
  if (verb == "place") {
    placeFinger();
  } else if (verb == "lift") {
    liftFinger();
  } else if (verb == "image") {
    if (!setImage(argument, &error)) return "error " + error;
  } else if (verb == "script") {
    auto timeline = FingerTimeline::parse(argument, &error);
    if (!timeline) return "error " + error;
    setFingerScript(std::move(*timeline));
  } else if (verb == "fault") {
    auto rule = parseFaultRule(argument, config().mode, &error);
    if (!rule) return "error " + error;
    addFault(*rule);
  } else if (verb == "unplug") {
    unplug();
    dropLinks = true;
  } else if (verb == "plug") {
    plug();
  } else if (verb == "status") {
    return describeStatus(status(nowMs));
  } else {
    return "error unknown command '" + verb + "'";
  }
  return "ok";
}

}  // namespace fx60::sim
