#include "platform/posix/hid_descriptor.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <vector>

namespace fx60::platform::os {
namespace {

enum ItemType : uint8_t { kMain = 0, kGlobal = 1, kLocal = 2 };

// Main item tags.
constexpr uint8_t kInput = 0x8, kOutput = 0x9, kFeature = 0xB;
// Global item tags.
constexpr uint8_t kReportSize = 0x7, kReportId = 0x8, kReportCount = 0x9, kPush = 0xA, kPop = 0xB;
constexpr uint8_t kLongItemPrefix = 0xFE;
// Deep enough for any real descriptor; a deeper one is treated as malformed.
constexpr size_t kMaxGlobalStack = 32;

struct GlobalState {
  uint32_t reportSize = 0;
  uint32_t reportCount = 0;
  uint8_t reportId = 0;
};

struct ReportBits {
  uint64_t input = 0, output = 0, feature = 0;
};

uint16_t byteLength(uint64_t bits) {
  const uint64_t bytes = bits / 8 + (bits % 8 != 0) + 1;  // one byte for the report id, always counted
  return static_cast<uint16_t>(std::min<uint64_t>(bytes, 0xFFFF));
}

}  // namespace

std::optional<ReportDescriptorSummary> parseReportDescriptor(std::span<const uint8_t> descriptor) {
  GlobalState global;
  std::vector<GlobalState> stack;
  std::map<uint8_t, ReportBits> bitsById;
  bool usesIds = false;
  size_t pos = 0;
  while (pos < descriptor.size()) {
    const uint8_t prefix = descriptor[pos];
    if (prefix == kLongItemPrefix) {
      if (pos + 3 > descriptor.size()) return std::nullopt;
      const size_t dataSize = descriptor[pos + 1];
      if (pos + 3 + dataSize > descriptor.size()) return std::nullopt;
      pos += 3 + dataSize;
      continue;
    }
    const size_t dataSize = (prefix & 0x3) == 3 ? 4 : (prefix & 0x3);
    if (pos + 1 + dataSize > descriptor.size()) return std::nullopt;
    uint32_t value = 0;
    for (size_t i = 0; i < dataSize; ++i) value |= uint32_t{descriptor[pos + 1 + i]} << (8 * i);
    const uint8_t type = (prefix >> 2) & 0x3;
    const uint8_t tag = prefix >> 4;
    pos += 1 + dataSize;

    if (type == kGlobal) {
      switch (tag) {
        case kReportSize: global.reportSize = value; break;
        case kReportCount: global.reportCount = value; break;
        case kReportId:
          if (value == 0 || value > 0xFF) return std::nullopt;
          global.reportId = static_cast<uint8_t>(value);
          usesIds = true;
          break;
        case kPush:
          if (stack.size() >= kMaxGlobalStack) return std::nullopt;
          stack.push_back(global);
          break;
        case kPop:
          if (stack.empty()) return std::nullopt;
          global = stack.back();
          stack.pop_back();
          break;
        default: break;
      }
    } else if (type == kMain && (tag == kInput || tag == kOutput || tag == kFeature)) {
      const uint64_t bits = uint64_t{global.reportSize} * global.reportCount;
      ReportBits& report = bitsById[global.reportId];
      uint64_t& total = tag == kInput ? report.input : tag == kOutput ? report.output : report.feature;
      total = bits > UINT64_MAX - total ? UINT64_MAX : total + bits;  // saturate
    }
  }

  ReportDescriptorSummary summary;
  summary.usesReportIds = usesIds;
  for (const auto& [id, bits] : bitsById) {
    if (bits.input) summary.lengths.input = std::max(summary.lengths.input, byteLength(bits.input));
    if (bits.output) summary.lengths.output = std::max(summary.lengths.output, byteLength(bits.output));
    if (bits.feature)
      summary.lengths.feature = std::max(summary.lengths.feature, byteLength(bits.feature));
  }
  return summary;
}

std::optional<HidIds> parseHidIdFromUevent(std::string_view uevent) {
  constexpr std::string_view key = "HID_ID=";
  size_t lineStart = 0;
  while (lineStart < uevent.size()) {
    size_t lineEnd = uevent.find('\n', lineStart);
    if (lineEnd == std::string_view::npos) lineEnd = uevent.size();
    std::string_view line = uevent.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    if (!line.starts_with(key)) continue;
    line.remove_prefix(key.size());
    // bus:vendor:product, each hexadecimal.
    uint32_t fields[3] = {};
    for (int i = 0; i < 3; ++i) {
      const size_t colon = line.find(':');
      const std::string_view field = i < 2 ? line.substr(0, colon) : line;
      if (field.empty() || (i < 2 && colon == std::string_view::npos)) return std::nullopt;
      const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), fields[i], 16);
      if (error != std::errc() || end != field.data() + field.size()) return std::nullopt;
      if (i < 2) line.remove_prefix(colon + 1);
    }
    if (fields[1] > 0xFFFF || fields[2] > 0xFFFF) return std::nullopt;
    return HidIds{static_cast<uint16_t>(fields[1]), static_cast<uint16_t>(fields[2])};
  }
  return std::nullopt;
}

}  // namespace fx60::platform::os
