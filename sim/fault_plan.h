// Faults the simulated module injects on request: which kind, on which command,
// after how many matching events and for how many.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fx60::sim {

enum class WireMode { Storage, Hid };

enum class FaultKind {
  TransportCrc,  // a write is answered with a retryable transport (CRC) error
  WriteFail,     // a write fails outright
  ReadFail,      // a read fails outright
  ShortRead,     // a read delivers only part of the bytes
  StallRead,     // a read gets no answer until its time-out has passed
  BadStatus,     // the module answers a command with a failure status
  BadChecksum,   // a HID response carries a checksum off by one
  BadHeader,     // a HID response starts with a wrong first byte
  Unplug,        // the module disappears instead of answering a read
};

// Pseudo command code naming the plain image data reports that follow the HID
// image response.
inline constexpr int kImageDataReports = 0x10000;

// One rule. Syntax: KIND[@COMMAND][+SKIP][:COUNT], for example "crc:99",
// "bad-status@start-image", "unplug@image-data+700", "read-fail@detect:*".
// COMMAND is a name of the mode's command set or a code (0xE013, 9); without it
// every command matches. SKIP matching events pass first; COUNT events are then
// hit ("*" for all of them). COUNT defaults to 1.
struct FaultRule {
  FaultKind kind = FaultKind::ReadFail;
  std::optional<int> command;
  long skip = 0;
  long count = 1;  // negative: unlimited
};

std::optional<FaultRule> parseFaultRule(std::string_view text, WireMode mode, std::string* error = nullptr);

std::string_view faultKindName(FaultKind kind);

// Command code of a command name in the given mode (or a numeric code), if known.
std::optional<int> commandCode(std::string_view name, WireMode mode);

class FaultPlan {
 public:
  void add(const FaultRule& rule) { rules_.push_back(rule); }
  void clear() { rules_.clear(); }

  // Records one event of this kind on this command; true when a rule hits it.
  bool fire(FaultKind kind, int command);

  bool empty() const { return rules_.empty(); }

 private:
  std::vector<FaultRule> rules_;
};

}  // namespace fx60::sim
