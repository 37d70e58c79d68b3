#include "sim/fault_plan.h"

#include <array>
#include <charconv>
#include <utility>

namespace fx60::sim {

namespace {

struct NamedKind {
  std::string_view name;
  FaultKind kind;
};

constexpr std::array<NamedKind, 9> kKindNames{{
    {"crc", FaultKind::TransportCrc},
    {"write-fail", FaultKind::WriteFail},
    {"read-fail", FaultKind::ReadFail},
    {"short-read", FaultKind::ShortRead},
    {"stall", FaultKind::StallRead},
    {"bad-status", FaultKind::BadStatus},
    {"bad-checksum", FaultKind::BadChecksum},
    {"bad-header", FaultKind::BadHeader},
    {"unplug", FaultKind::Unplug},
}};

struct NamedCommand {
  std::string_view name;
  int code;
};

constexpr std::array<NamedCommand, 5> kStorageCommands{{
    {"indicator", 0xF008},
    {"version", 0xE003},
    {"detect", 0xE010},
    {"start-image", 0xE011},
    {"image-half", 0xE013},
}};

constexpr std::array<NamedCommand, 7> kHidCommands{{
    {"indicator", 2},
    {"connect", 8},
    {"detect", 9},
    {"disconnect", 12},
    {"version", 13},
    {"image", 0x45},
    {"image-data", kImageDataReports},
}};

std::optional<long> parseNumber(std::string_view text) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

std::optional<FaultRule> fail(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return std::nullopt;
}

}  // namespace

std::string_view faultKindName(FaultKind kind) {
  for (const auto& named : kKindNames)
    if (named.kind == kind) return named.name;
  return "?";
}

std::optional<int> commandCode(std::string_view name, WireMode mode) {
  if (mode == WireMode::Storage) {
    for (const auto& named : kStorageCommands)
      if (named.name == name) return named.code;
  } else {
    for (const auto& named : kHidCommands)
      if (named.name == name) return named.code;
  }
  if (auto number = parseNumber(name); number && *number <= 0xFFFF) return static_cast<int>(*number);
  return std::nullopt;
}

std::optional<FaultRule> parseFaultRule(std::string_view text, WireMode mode, std::string* error) {
  FaultRule rule;
  std::string_view rest = text;

  if (size_t colon = rest.find(':'); colon != std::string_view::npos) {
    const std::string_view count = rest.substr(colon + 1);
    if (count == "*") {
      rule.count = -1;
    } else if (auto value = parseNumber(count)) {
      rule.count = *value;
    } else {
      return fail(error, "bad fault count in '" + std::string(text) + "'");
    }
    rest = rest.substr(0, colon);
  }
  if (size_t plus = rest.find('+'); plus != std::string_view::npos) {
    auto value = parseNumber(rest.substr(plus + 1));
    if (!value) return fail(error, "bad fault skip in '" + std::string(text) + "'");
    rule.skip = *value;
    rest = rest.substr(0, plus);
  }
  if (size_t at = rest.find('@'); at != std::string_view::npos) {
    auto code = commandCode(rest.substr(at + 1), mode);
    if (!code) return fail(error, "unknown command in '" + std::string(text) + "'");
    rule.command = *code;
    rest = rest.substr(0, at);
  }
  for (const auto& named : kKindNames) {
    if (named.name == rest) {
      rule.kind = named.kind;
      return rule;
    }
  }
  return fail(error, "unknown fault kind '" + std::string(rest) + "'");
}

bool FaultPlan::fire(FaultKind kind, int command) {
  bool hit = false;
  for (FaultRule& rule : rules_) {
    if (rule.kind != kind || rule.count == 0) continue;
    if (rule.command && *rule.command != command) continue;
    if (rule.skip > 0) {
      --rule.skip;
      continue;
    }
    if (rule.count > 0) --rule.count;
    hit = true;
  }
  return hit;
}

}  // namespace fx60::sim
